// The runtime bank loader on bank folders built on disk: every failure with
// its outcome and text, path and symbolic-link containment, verification,
// instrument choice, the zone table, the shared arena and presets; then the
// WAV decoder and the document reader on their own.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>

#include "bank_folder.h"
#include "banks/runtime_bank.h"
#include "banks/wav.h"

namespace norva {
namespace {

using test::BankFolder;
using test::kFloat32Mono;
using test::kPcm16Mono;
using test::kPcm24Stereo;
using test::wavBytes;

// A bank that loads: asset "a", four 16-bit frames (a 52-byte file), played
// by instrument "keys" in one zone.
void goodBank(BankFolder &bank) {
  bank.addWav("a", "audio/a.wav", kPcm16Mono, {0.5, -0.5, 0.25, 0});
  bank.addInstrument("keys", "Keys", "keys.json", R"([{"id":"z","assetId":"a"}])");
}

RuntimeBankLoad loaded(const BankFolder &bank, const std::string &instrument = "", size_t capacity = 0) {
  return loadRuntimeBank(bank.path(), capacity, instrument);
}

std::string zonesDocument(const std::string &zones) {
  return std::string(R"({"format":")") + kInstrumentDocumentFormat + R"(","zones":)" + zones + "}";
}

// --- outcomes and failure texts ----------------------------------------------

TEST(RuntimeBank, OutcomeNamesAndAMissingFolder) {
  const char *expected[] = {"ok", "bank-missing", "bank-hash-mismatch", "bank-malformed", "bank-unsupported-codec",
                            "bank-too-large", "bank-instrument-unknown", "bank-missing", "bank-missing"};
  const int outcomes[] = {0, 1, 2, 3, 4, 5, 6, 7, -1};
  for (int i = 0; i < 9; ++i) EXPECT_STREQ(runtimeBankOutcomeName(outcomes[i]), expected[i]) << outcomes[i];
  const RuntimeBankLoad load = loadRuntimeBank("/nonexistent/bank", 0, "");
  EXPECT_EQ(load.outcome, kBankMissing);
  EXPECT_EQ(load.error, "cannot read /nonexistent/bank/bank.json");
}

// Each row breaks the good bank in one way; the manifest is written after it
// unless the row wrote "bank.json" itself. In the text, %F stands for the
// folder and %D for the first 16 hex digits of asset "a"'s digest.
TEST(RuntimeBank, FailureTable) {
  struct Row {
    const char *failure;
    std::function<void(BankFolder &, std::string &instrument, size_t &capacity)> breakIt;
    int outcome;
    std::string text;
  };
  using S = std::string;
  const Row rows[] = {
      {"F1", [](BankFolder &b, S &, size_t &) { std::filesystem::create_directory(b.file(kBankManifestName)); }, 1,
       "cannot read %F/bank.json"},
      {"F2", [](BankFolder &b, S &, size_t &) { b.write(kBankManifestName, "[{}]"); }, 3, "bank.json is not a JSON object"},
      {"F2 trailing", [](BankFolder &b, S &, size_t &) { b.write(kBankManifestName, R"({"id":"x",})"); }, 3,
       "bank.json is not a JSON object"},
      {"F3", [](BankFolder &b, S &, size_t &) { b.format = "norva-sound-pack/v2"; }, 3,
       R"(bank.json format is "norva-sound-pack/v2", expected norva-sound-pack/v1)"},
      {"F4", [](BankFolder &b, S &, size_t &) { b.id = ""; }, 3, "bank.json declares no id"},
      {"F5", [](BankFolder &b, S &, size_t &) { b.assets.clear(); }, 3, "bank.json declares no assetTable"},
      {"F6", [](BankFolder &b, S &, size_t &) { b.assets[0].path = ""; }, 3, "assetTable entry missing id or path"},
      {"F7", [](BankFolder &b, S &, size_t &) { b.assets[0].path = "audio/../../a.wav"; }, 3,
       R"(asset "a" path escapes the bank directory)"},
      {"F8 before reading", [](BankFolder &b, S &, size_t &) { b.assets[0] = {"a", "none.flac", "", -1, "flac"}; },
       4, R"(asset "a" codec "flac" is not decoded by the native runtime loader (wav only))"},
      {"F9", [](BankFolder &b, S &, size_t &) { b.assets[0].path = "audio/none.wav"; }, 1,
       R"(asset "a" file missing: audio/none.wav)"},
      {"F10", [](BankFolder &b, S &, size_t &) { b.assets[0].bytes = 0; }, 2,
       R"(asset "a" is 52 bytes, manifest declares 0)"},
      {"F11 upper case", [](BankFolder &b, S &, size_t &) { for (char &c : b.assets[0].sha256) c = char(toupper(c)); },
       2, "asset \"a\" sha256 %D\u2026 does not match the manifest"},
      {"F12", [](BankFolder &b, S &i, size_t &) { i = "piano", b.kits.push_back(R"({"id":"pads"})"); }, 6,
       R"(bank test.bank has no instrument or kit "piano" (known: keys, pads))"},
      {"F12 none listed", [](BankFolder &b, S &i, size_t &) { i = "piano", b.instruments = {R"({"name":"x"})"}; }, 6,
       R"(bank test.bank has no instrument or kit "piano" (the bank lists none))"},
      {"F13", [](BankFolder &b, S &, size_t &) { b.instruments = {R"({"id":"keys","document":""})"}; }, 3,
       "bank.json names no readable instrument/kit document"},
      {"F13 escapes", [](BankFolder &b, S &, size_t &) { b.instruments = {R"({"id":"k","document":"/k.json"})"}; },
       3, "bank.json names no readable instrument/kit document"},
      {"F14", [](BankFolder &b, S &, size_t &) { b.instruments = {R"({"id":"k","document":"gone.json"})"}; }, 1,
       "instrument document missing: gone.json"},
      {"F15", [](BankFolder &b, S &, size_t &) { b.write("keys.json", "[]"); }, 3,
       "instrument document is not a JSON object"},
      {"F16", [](BankFolder &b, S &, size_t &) { b.write("keys.json", R"({"format":"v1","zones":[]})"); }, 3,
       R"(instrument document format is "v1", expected norva-sampler-instrument/v1)"},
      {"F17", [](BankFolder &b, S &, size_t &) { b.write("keys.json", zonesDocument("{}")); }, 3,
       "instrument document declares no zones"},
      {"F18", [](BankFolder &b, S &, size_t &) { b.write("keys.json", zonesDocument(R"([{"id":"z","assetId":"A"}])")); },
       3, R"(zone "z" names asset "A" which the assetTable does not declare)"},
      {"F19", [](BankFolder &b, S &, size_t &) { b.assets.clear(), b.addAsset("a", "audio/a.wav", {'R', 'I', 'F'}); }, 4,
       R"(asset "a": not a RIFF/WAVE file)"},
      {"F20", [](BankFolder &, S &, size_t &c) { c = 3; }, 5, "bank needs 4 arena frames, the kernel published 3"},
      {"F21", [](BankFolder &b, S &, size_t &) { b.write("keys.json", zonesDocument(R"([1,"z",[]])")); }, 3,
       "bank staged no zones or no samples"},
      // Beyond the table: a file past the loader's limits is refused unread.
      {"manifest too large", [](BankFolder &b, S &, size_t &) {
         b.writeManifest(), std::filesystem::resize_file(b.file(kBankManifestName), kMaxBankDocumentBytes + 1); }, 5,
       "bank.json is larger than the loader reads (4194304 bytes)"},
      {"asset too large", [](BankFolder &b, S &, size_t &) {
         b.assets[0].bytes = -1, std::filesystem::resize_file(b.file("audio/a.wav"), kMaxBankFileBytes + 1); }, 5,
       R"(asset "a" is larger than the loader reads (536870912 bytes))"},
      {"data chunk cut short", [](BankFolder &b, S &, size_t &) {
         std::vector<uint8_t> wav = wavBytes(kPcm16Mono, {0.5, 0.5});
         wav.pop_back();
         b.assets.clear(), b.addAsset("a", "audio/a.wav", wav); }, 4,
       R"(asset "a": data chunk claims 4 bytes, the file holds 3)"},
  };
  for (const Row &row : rows) {
    BankFolder bank;
    goodBank(bank);
    std::string text = row.text;
    if (const size_t at = text.find("%D"); at != std::string::npos) text.replace(at, 2, bank.assets[0].sha256.substr(0, 16));
    if (const size_t at = text.find("%F"); at != std::string::npos) text.replace(at, 2, bank.path());
    std::string instrument;
    size_t capacity = 0;
    row.breakIt(bank, instrument, capacity);
    if (!std::filesystem::exists(bank.file(kBankManifestName))) bank.writeManifest();
    const RuntimeBankLoad load = loaded(bank, instrument, capacity);
    EXPECT_EQ(load.outcome, row.outcome) << row.failure;
    EXPECT_EQ(load.error, text) << row.failure;
  }
}

TEST(RuntimeBank, FirstFailureLeavesWhatWasRead) {
  BankFolder bank;
  goodBank(bank);
  bank.kits.push_back(R"({"id":"pads","name":"Pads","document":"x"})");
  bank.addPreset("soft", "", "keys", "soft.json", R"({"v":1})");
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank, "drums");
  EXPECT_EQ(load.bank.id + "|" + load.bank.name + "|" + load.bank.version, "test.bank|Test Bank|1.0.0");
  const std::string manifest = bank.writeManifest();
  EXPECT_EQ(load.bank.sha256, test::sha256HexOf(std::vector<uint8_t>(manifest.begin(), manifest.end())));
  ASSERT_EQ(load.bank.positionings.size(), 2u);
  EXPECT_EQ(load.bank.positionings[1].list, "kits");
  EXPECT_EQ(load.bank.presets.size(), 1u);
  EXPECT_TRUE(load.bank.zones.empty());
}

// --- paths -------------------------------------------------------------------

TEST(RuntimeBankPaths, ContainmentAndJoining) {
  const std::pair<const char *, bool> contained[] = {
      {"a.wav", true},     {"./a.wav", true},  {"audio//a.wav", true}, {"a/./b/", true},   {"..a/b..", true},
      {"", false},         {"/a.wav", false},  {"a\\b.wav", false},    {"..", false},      {"a/../b", false},
      {"a/..", false},     {"../a", false},
  };
  for (const auto &[path, ok] : contained) EXPECT_EQ(pathIsContained(path), ok) << path;
  const std::tuple<const char *, const char *, const char *> joins[] = {
      {"b", "", "b"}, {"b", "/x", "/x"}, {"", "x", "x"}, {"b/", "x", "b/x"}, {"b", "x/y", "b/x/y"}};
  for (const auto &[base, relative, joined] : joins) EXPECT_EQ(joinPath(base, relative), joined);
}

TEST(RuntimeBankPaths, DotAndDoubleSlashSegmentsLoad) {
  BankFolder bank;
  goodBank(bank);
  bank.assets[0].path = "./audio//a.wav";
  bank.writeManifest();
  EXPECT_EQ(loaded(bank).outcome, kBankOk) << loaded(bank).error;
}

// A contained name whose link leads outside: an asset is escaping, the
// instrument document unreadable, a preset skipped.
TEST(RuntimeBankPaths, SymbolicLinksOutOfTheFolderAreRefused) {
  BankFolder outside;
  outside.write("a.wav", wavBytes(kPcm16Mono, {0.5}));
  outside.write("doc.json", zonesDocument(R"([{"assetId":"a"}])"));
  outside.write("p.json", R"({"params":{"v":1}})");
  const auto linked = [&](BankFolder &bank, const char *name, const char *target) {
    std::filesystem::create_symlink(outside.file(target), bank.file(name));
  };
  {
    BankFolder bank;
    goodBank(bank);
    bank.assets.emplace_back(test::BankAsset{"b", "b.wav", "", -1, ""});
    linked(bank, "b.wav", "a.wav");
    bank.writeManifest();
    const RuntimeBankLoad load = loaded(bank);
    EXPECT_EQ(load.outcome, kBankMalformed);
    EXPECT_EQ(load.error, R"(asset "b" path escapes the bank directory)");
  }
  {
    BankFolder bank;
    goodBank(bank);
    bank.instruments = {R"({"id":"k","document":"doc.json"})"};
    bank.presets = {R"({"id":"p","document":"p.json"})"};
    linked(bank, "doc.json", "doc.json");
    linked(bank, "p.json", "p.json");
    bank.writeManifest();
    const RuntimeBankLoad load = loaded(bank);
    EXPECT_EQ(load.error, "bank.json names no readable instrument/kit document");
    EXPECT_TRUE(load.bank.presets.empty());
  }
  {
    BankFolder bank; // a link that stays inside is followed
    goodBank(bank);
    bank.assets[0].path = "link.wav";
    std::filesystem::create_symlink("audio/a.wav", bank.file("link.wav"));
    bank.writeManifest();
    EXPECT_EQ(loaded(bank).outcome, kBankOk);
  }
}

// --- verification and choice ---------------------------------------------------

TEST(RuntimeBank, SizeAndDigestAreCheckedOnlyWhenGiven) {
  BankFolder bank;
  goodBank(bank);
  bank.assets[0].bytes = -1;
  bank.assets[0].sha256 = "";
  bank.addAsset("unused", "notes.txt", std::vector<uint8_t>{'x'}); // verified, never decoded
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  EXPECT_EQ(load.outcome, kBankOk) << load.error;
  EXPECT_EQ(load.bank.samples.size(), 4u);
}

TEST(RuntimeBank, ChoosesTheFirstInstrumentOrKitWithADocument) {
  BankFolder bank;
  goodBank(bank);
  bank.instruments.insert(bank.instruments.begin(), R"({"id":"bare","name":"Bare"})");
  bank.addInstrument("pads", "Pads", "pads.json", R"([{"assetId":"a","startFrame":2}])", true);
  bank.writeManifest();
  const std::tuple<const char *, const char *, const char *, uint64_t> cases[] = {
      {"", "keys", "instruments", 4}, {"pads", "pads", "kits", 2}};
  for (const auto &[requested, id, list, length] : cases) {
    const RuntimeBankLoad load = loaded(bank, requested);
    ASSERT_EQ(load.outcome, kBankOk) << load.error;
    EXPECT_EQ(load.bank.instrumentId + "|" + load.bank.instrumentList, std::string(id) + "|" + list);
    EXPECT_EQ(load.bank.zones.at(0).length, length);
  }
  EXPECT_EQ(loaded(bank, "bare").outcome, kBankInstrumentUnknown);
}

// --- zones and the arena -------------------------------------------------------

TEST(RuntimeBankZones, DefaultsAndClamps) {
  JsonValue defaults;
  ASSERT_TRUE(parseJsonDocument("{}", 2, defaults));
  const StagedZone d = stageZone(defaults, 10, 100, 44100);
  EXPECT_EQ(std::vector<double>({double(d.start), double(d.length), double(d.lowKey), double(d.highKey),
                                 double(d.rootKey), double(d.lowVelocity), double(d.highVelocity), d.gain, d.pan,
                                 d.fineTuneCents, d.attackSeconds, d.releaseSeconds, d.filterCutoffHz,
                                 d.filterResonance, double(d.trigger), d.sampleRate}),
            std::vector<double>({10, 100, 0, 127, 60, 0, 127, 1, 0, 0, 0.001, 0.05, 0, 0, 0, 44100}));
  EXPECT_TRUE(d.keyTracking && !d.reverse && !d.loop);

  JsonValue set;
  const std::string text = R"({"lowKey":-3,"highKey":200,"rootKey":59.5,"lowVelocity":0.49,
      "highVelocity":nan,"roundRobinGroup":2.9,"chokeGroup":-1,"trigger":"legato","keyTracking":false,
      "reverse":true,"gain":"2","pan":-0.5,"fineTuneCents":1e999})";
  ASSERT_TRUE(parseJsonDocument(text.data(), text.size(), set));
  const StagedZone z = stageZone(set, 0, 100, 48000);
  EXPECT_EQ(std::vector<uint32_t>({z.lowKey, z.highKey, z.rootKey, z.lowVelocity, z.highVelocity,
                                   z.roundRobinGroup, z.chokeGroup, uint32_t(z.trigger)}),
            std::vector<uint32_t>({0, 127, 60, 0, 0, 2, 0, 2}));
  EXPECT_TRUE(!z.keyTracking && z.reverse && z.gain == 1.0 && z.pan == -0.5 && std::isinf(z.fineTuneCents));
  EXPECT_EQ(triggerCode("release"), 1);
  EXPECT_EQ(triggerCode("Release"), 0);
}

// Asset of 100 frames at arena offset 1000. Columns: zone members, then start,
// length, loop on, loop start, loop end, crossfade.
TEST(RuntimeBankZones, RangesLoopsAndCrossfades) {
  const std::pair<const char *, std::array<uint64_t, 6>> cases[] = {
      {R"("startFrame":10,"endFrame":50)", {1010, 40, 0, 0, 0, 0}},
      {R"("startFrame":100,"endFrame":50)", {1000, 50, 0, 0, 0, 0}},  // start past the asset: ignored
      {R"("startFrame":10.9,"endFrame":500)", {1010, 90, 0, 0, 0, 0}},
      {R"("startFrame":10,"endFrame":10)", {1010, 90, 0, 0, 0, 0}},    // end not after start: ignored
      {R"("loopMode":"forward","loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":40,"startFrame":10)",
       {1010, 90, 1, 10, 50, 40}},
      {R"("loopMode":"forward","loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":41)",
       {1000, 100, 1, 20, 60, 0}},                                     // crossfade longer than the loop
      {R"("loopMode":"forward","loopStartFrame":5,"loopEndFrame":60,"startFrame":10)", {1010, 90, 0, 0, 0, 0}},
      {R"("loopMode":"forward","loopStartFrame":60,"loopEndFrame":60)", {1000, 100, 0, 0, 0, 0}},
      {R"("loopMode":"forward","loopStartFrame":0,"loopEndFrame":51,"endFrame":50)", {1000, 50, 0, 0, 0, 0}},
      {R"("loopMode":"forward","loopStartFrame":0,"loopEndFrame":50,"endFrame":50)", {1000, 50, 1, 0, 50, 0}},
      {R"("loopMode":"forward","loopStartFrame":-5,"loopEndFrame":1e30)", {1000, 100, 0, 0, 0, 0}},
      {R"("loopMode":"forward","loopStartFrame":20)", {1000, 100, 0, 0, 0, 0}},
      {R"("loopMode":"pingpong","loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":5)",
       {1000, 100, 0, 0, 0, 0}},
  };
  for (const auto &[members, expected] : cases) {
    JsonValue zone;
    const std::string text = std::string("{") + members + "}";
    ASSERT_TRUE(parseJsonDocument(text.data(), text.size(), zone)) << text;
    const StagedZone z = stageZone(zone, 1000, 100, 48000);
    EXPECT_EQ((std::array<uint64_t, 6>{z.start, z.length, z.loop, z.loopStart, z.loopEnd, z.loopCrossfadeFrames}),
              expected)
        << members;
  }
}

// Zones on one asset share its samples; each asset sits once in the arena, in
// the order zones first use it; the bank's rate is the first decoded asset's.
TEST(RuntimeBankZones, SharedArenaAcrossFormats) {
  BankFolder bank;
  bank.addWav("wide", "wide.wav", kPcm24Stereo, {0.5, 0.25, -1, 1, 0.75, 0.75});
  bank.addWav("float", "float.wav", kFloat32Mono, {0.125, -0.125});
  bank.addWav("a", "a.wav", kPcm16Mono, {0.5});
  bank.addInstrument("kit", "Kit", "kit.json",
                     R"([{"id":"1","assetId":"float"},{"id":"2","assetId":"wide","startFrame":1},
                         {"id":"3","assetId":"float","endFrame":1},{"id":"4","assetId":"wide"}])");
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  ASSERT_EQ(load.outcome, kBankOk) << load.error;
  EXPECT_EQ(load.bank.samples, (std::vector<float>{4096 / 32768.f, -4096 / 32768.f, 12288 / 32768.f, 0,
                                                   24575 / 32768.f}));
  std::vector<std::array<uint64_t, 2>> ranges;
  for (const StagedZone &z : load.bank.zones) ranges.push_back({z.start, z.length});
  EXPECT_EQ(ranges, (std::vector<std::array<uint64_t, 2>>{{0, 2}, {3, 2}, {0, 1}, {2, 3}}));
  EXPECT_EQ(load.bank.sampleRate, 96000);
  EXPECT_EQ(load.bank.zones[1].sampleRate, 44100);
  EXPECT_EQ(load.bank.zones[1].assetId, "wide");
}

TEST(RuntimeBank, PresetsWithParametersInKeyOrder) {
  BankFolder bank;
  goodBank(bank);
  bank.addPreset("b", "", "keys", "p/b.json", R"({"z":1,"a":-2.5,"m":"x","n":nan,"a":3,"i":1e999})");
  bank.addPreset("c", "Cee", "", "p/c.json", R"({"only":"text"})");
  bank.addPreset("", "no id", "", "p/d.json", R"({"v":1})");
  bank.addPreset("e", "", "", "../e.json", R"({"v":1})");
  bank.addPreset("f", "", "", "p/f.json", "[1]");
  bank.presets.push_back(R"({"id":"g","document":"p/missing.json"})");
  bank.presets.push_back(R"("h")");
  bank.addPreset("k", "Kay", "pads", "p/k.json", R"({"v":0})");
  bank.write("p/bad.json", R"({"params":{"v":1},})");
  bank.presets.push_back(R"({"id":"l","document":"p/bad.json"})");
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  ASSERT_EQ(load.outcome, kBankOk) << load.error;
  ASSERT_EQ(load.bank.presets.size(), 2u);
  const StagedPreset &b = load.bank.presets[0];
  EXPECT_EQ(b.id + "|" + b.name + "|" + b.instrument, "b|b|keys");
  EXPECT_EQ(b.params, (std::vector<std::pair<std::string, double>>{{"a", 3}, {"z", 1}}));
  EXPECT_EQ(load.bank.presets[1].name, "Kay");
}

// --- WAV decoding ----------------------------------------------------------------

std::vector<float> decoded(const std::vector<uint8_t> &bytes, double *rate = nullptr) {
  WavAudio audio;
  std::string error;
  EXPECT_TRUE(decodeWav(bytes.data(), bytes.size(), audio, error)) << error;
  if (rate != nullptr) *rate = audio.sampleRate;
  return audio.samples;
}

std::string refusal(const std::vector<uint8_t> &bytes) {
  WavAudio audio;
  std::string error;
  EXPECT_FALSE(decodeWav(bytes.data(), bytes.size(), audio, error));
  return error;
}

std::vector<float> grid(std::initializer_list<int> steps) {
  std::vector<float> out;
  for (int step : steps) out.push_back(float(step / 32768.0));
  return out;
}

TEST(BankWav, EveryFormatLandsOnTheSixteenBitGrid) {
  // 16-bit: v / 32768 * 32767, halves away from zero.
  EXPECT_EQ(decoded(wavBytes(kPcm16Mono, {0.5, -0.5, 32767 / 32768.0, -1, 1 / 32768.0})),
            grid({16384, -16384, 32766, -32767, 1}));
  // 24-bit stereo mixes to one channel: (L + R) / 2.
  EXPECT_EQ(decoded(wavBytes(kPcm24Stereo, {0.5, 0.25, -1, 1, 1, 1})), grid({12288, 0, 32767}));
  // Float is taken as it stands, clamped; not-a-number is silence.
  double rate = 0;
  EXPECT_EQ(decoded(wavBytes(kFloat32Mono, {0.25, 2, -2, std::nan("")}), &rate), grid({8192, 32767, -32768, 0}));
  EXPECT_EQ(rate, 96000);
  EXPECT_EQ(decoded(wavBytes({3, 32, 2, 0, true}, {0.5, 0.5}), &rate), grid({16384})) << "extensible, rate 0";
  EXPECT_EQ(rate, 48000);
}

TEST(BankWav, ChunkWalk) {
  std::vector<uint8_t> wav = wavBytes(kPcm16Mono, {0.5, 0.5, 0.5});  // an odd-sized chunk before "data"
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'x', 'y', 'z', 0};
  wav.insert(wav.begin() + 36, list.begin(), list.end());
  const std::vector<uint8_t> second = {'d', 'a', 't', 'a', 2, 0, 0, 0, 0, 0x20};  // the last data chunk wins
  wav.insert(wav.end(), second.begin(), second.end());
  EXPECT_EQ(decoded(wav), grid({8192}));
  wav.insert(wav.end(), {'j', 'u', 'n', 'k', 0xFF, 0, 0, 0, 1});  // a chunk past the end ends the walk
  EXPECT_EQ(decoded(wav), grid({8192}));
  // Whole frames only: a trailing partial frame is left out.
  std::vector<uint8_t> partial = wavBytes(kPcm24Stereo, {0.5, 0.5, 0.5, 0.5});
  partial[40] = 9;
  EXPECT_EQ(decoded(partial), grid({16384}));
}

TEST(BankWav, Refusals) {
  std::vector<uint8_t> truncated = wavBytes(kPcm16Mono, {0.5, 0.5, 0.5, 0.5});
  truncated.resize(truncated.size() - 3);
  std::vector<uint8_t> riffless = wavBytes(kPcm16Mono, {0.5, 0.5, 0.5, 0.5});
  riffless[0] = 'X';
  std::vector<uint8_t> waveless = riffless;
  waveless[0] = 'R', waveless[11] = 'X';
  std::vector<uint8_t> fmtless = wavBytes(kPcm16Mono, std::vector<double>(8));
  fmtless[12] = 'F';
  std::vector<uint8_t> fourBit = wavBytes(kPcm16Mono, {0, 0});
  fourBit[34] = 4;
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {wavBytes({1, 8, 1, 48000}, std::vector<double>(10)), "unsupported WAV format tag 1 / 8-bit"},
      {wavBytes({1, 32, 1, 48000}, std::vector<double>(4)), "unsupported WAV format tag 1 / 32-bit"},
      {wavBytes({3, 64, 1, 48000}, std::vector<double>(4)), "unsupported WAV format tag 3 / 64-bit"},
      {wavBytes({3, 16, 1, 48000, true}, std::vector<double>(4)), "unsupported WAV format tag 3 / 16-bit"},
      {wavBytes({1, 16, 3, 48000}, std::vector<double>(6)), "unsupported channel count 3"},
      {fmtless, "unsupported channel count 0"},
      {fourBit, "empty or unreadable data chunk"},
      {wavBytes(kPcm24Stereo, {0.5}), "empty or unreadable data chunk"},
      {wavBytes(kPcm16Mono, {}), "no data chunk"},
      {truncated, "data chunk claims 8 bytes, the file holds 5"},
      {std::vector<uint8_t>(riffless.begin(), riffless.begin() + 43), "not a RIFF/WAVE file"},
      {riffless, "not a RIFF/WAVE file"},
      {waveless, "not a RIFF/WAVE file"},
  };
  for (const auto &[bytes, text] : cases) EXPECT_EQ(refusal(bytes), text);
}

// --- the document reader -----------------------------------------------------

TEST(BankDocument, StrictWholeDocuments) {
  const auto nested = [](size_t n) { return "{\"m\":" + std::string(n, '[') + std::string(n, ']') + "}"; };
  const std::pair<std::string, bool> cases[] = {
      {R"({"a":[1,"x",{"b":null}],"t":true})", true}, {" [ ] \r\n\t", true}, {"nan", true}, {"\"\"", true},
      {R"({"a":1,})", false}, {"[1,]", false}, {"{} {}", false}, {"[1] x", false}, {"[truex]", false},
      {"", false}, {"  ", false}, {"{\"a\"}", false}, {nested(32), true}, {nested(33), false},
  };
  for (const auto &[text, ok] : cases) {
    JsonValue value;
    EXPECT_EQ(parseJsonDocument(text.data(), text.size(), value), ok) << text;
  }
}

TEST(BankDocument, LookupsAnswerByKind) {
  JsonValue doc;
  const std::string text = R"({"s":"x","s":"y","n":"2","b":1,"o":{"k":[true,-0.5]},"f":false})";
  ASSERT_TRUE(parseJsonDocument(text.data(), text.size(), doc));
  double number = 7;
  bool flag = true;
  EXPECT_EQ(doc.str("s"), "y") << "a repeated key keeps its last value";
  EXPECT_EQ(doc.str("n", "fb") + doc.str("missing", "fb") + doc.str("b", "fb"), "2fbfb");
  EXPECT_FALSE(doc.numberMember("n", number) || doc.boolMember("b", flag));
  EXPECT_TRUE(doc.boolMember("f", flag) && !flag);
  const JsonValue *k = doc.find("o")->find("k");
  ASSERT_TRUE(k != nullptr && k->isArray() && k->array.size() == 2);
  EXPECT_EQ(k->array[1].number, -0.5);
  EXPECT_EQ(k->find("0"), nullptr) << "only objects have members";
  EXPECT_EQ(sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

} // namespace
} // namespace norva
