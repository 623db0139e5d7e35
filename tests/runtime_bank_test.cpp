// The runtime bank loader on bank folders built on disk: every failure with
// its outcome and text, containment of names and links, verification,
// instrument choice, zones, the shared arena and presets; then the WAV
// decoder and the document reader on their own.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "bank_folder.h"
#include "banks/runtime_bank.h"
#include "banks/wav.h"

namespace norva {
namespace {

using test::BankFolder;
using test::instrumentDocument;
using test::kFloat32Mono;
using test::kPcm16Mono;
using test::kPcm24Stereo;
using test::wavBytes;
using Bytes = std::vector<uint8_t>;
using Breaker = void (*)(BankFolder &, std::string &instrument, size_t &capacity);

// Asset "a" (four 16-bit frames, a 52-byte file) played by instrument "keys".
void goodBank(BankFolder &bank) {
  bank.addWav("a", "audio/a.wav", kPcm16Mono, {0.5, -0.5, 0.25, 0});
  bank.addInstrument("keys", "Keys", "keys.json", R"([{"id":"z","assetId":"a"}])");
}

RuntimeBankLoad loaded(const BankFolder &bank, const std::string &instrument = "") {
  return loadRuntimeBank(bank.path(), 0, instrument);
}

JsonValue parsed(const std::string &text) {
  JsonValue value;
  EXPECT_TRUE(parseJsonDocument(text.data(), text.size(), value)) << text;
  return value;
}

// Each row breaks the good bank in one way (b the folder, i the instrument
// asked for, c the arena capacity); the manifest is written after it unless
// the row wrote one. %F stands for the folder, %D for the first 16 hex digits
// of asset "a"'s digest. A missing folder's text is probe_test's.
#define BREAK(...) []([[maybe_unused]] BankFolder &b, [[maybe_unused]] std::string &i, [[maybe_unused]] size_t &c) { __VA_ARGS__; }
TEST(RuntimeBank, FailureTable) {
  const char *names[] = {"ok", "bank-missing", "bank-hash-mismatch", "bank-malformed", "bank-unsupported-codec",
                         "bank-too-large", "bank-instrument-unknown", "bank-missing"};
  for (int outcome = -1; outcome <= 7; ++outcome)
    EXPECT_STREQ(runtimeBankOutcomeName(outcome), names[outcome < 0 ? 7 : outcome]);
  const std::tuple<Breaker, int, std::string> rows[] = {
      {BREAK(std::filesystem::create_directory(b.file(kBankManifestName))), 1, "cannot read %F/bank.json"},
      {BREAK(b.write(kBankManifestName, "[{}]")), 3, "bank.json is not a JSON object"},
      {BREAK(b.write(kBankManifestName, R"({"id":"x",})")), 3, "bank.json is not a JSON object"},
      {BREAK(b.format = "norva-sound-pack/v2"), 3,
       R"(bank.json format is "norva-sound-pack/v2", expected norva-sound-pack/v1)"},
      {BREAK(b.id = ""), 3, "bank.json declares no id"},
      {BREAK(b.assets.clear()), 3, "bank.json declares no assetTable"},
      {BREAK(b.assets[0].path = ""), 3, "assetTable entry missing id or path"},
      {BREAK(b.assets[0].path = "audio/../../a.wav"), 3, R"(asset "a" path escapes the bank directory)"},
      {BREAK(b.assets[0] = {"a", "none.flac", "", -1, "flac"}), 4, // not read
       R"(asset "a" codec "flac" is not decoded by the native runtime loader (wav only))"},
      {BREAK(b.assets[0].path = "audio/none.wav"), 1, R"(asset "a" file missing: audio/none.wav)"},
      {BREAK(b.assets[0].bytes = 0), 2, R"(asset "a" is 52 bytes, manifest declares 0)"},
      {BREAK(for (char &d : b.assets[0].sha256) d = char(toupper(d))), 2,
       "asset \"a\" sha256 %D\u2026 does not match the manifest"},
      {BREAK(i = "piano", b.kits.push_back(R"({"id":"pads"})")), 6,
       R"(bank test.bank has no instrument or kit "piano" (known: keys, pads))"},
      {BREAK(i = "piano", b.instruments = {R"({"name":"x"})"}), 6,
       R"(bank test.bank has no instrument or kit "piano" (the bank lists none))"},
      {BREAK(b.instruments = {R"({"id":"keys","document":""})"}), 3, "bank.json names no readable instrument/kit document"},
      {BREAK(b.instruments = {R"({"id":"k","document":"/k.json"})"}), 3,
       "bank.json names no readable instrument/kit document"},
      {BREAK(b.instruments = {R"({"id":"k","document":"gone.json"})"}), 1, "instrument document missing: gone.json"},
      {BREAK(b.write("keys.json", "[]")), 3, "instrument document is not a JSON object"},
      {BREAK(b.write("keys.json", R"({"format":"v1","zones":[]})")), 3,
       R"(instrument document format is "v1", expected norva-sampler-instrument/v1)"},
      {BREAK(b.write("keys.json", instrumentDocument("{}"))), 3, "instrument document declares no zones"},
      {BREAK(b.write("keys.json", instrumentDocument(R"([{"id":"z","assetId":"A"}])"))), 3,
       R"(zone "z" names asset "A" which the assetTable does not declare)"},
      {BREAK(b.assets.clear(), b.addAsset("a", "audio/a.wav", {'R', 'I'})), 4, R"(asset "a": not a RIFF/WAVE file)"},
      {BREAK(c = 3), 5, "bank needs 4 arena frames, the kernel published 3"},
      {BREAK(b.write("keys.json", instrumentDocument(R"([1,"z",[]])"))), 3, "bank staged no zones or no samples"},
      // Past the loader's bounds: refused unread.
      {BREAK(b.writeManifest(), std::filesystem::resize_file(b.file(kBankManifestName), kMaxBankDocumentBytes + 1)), 5,
       "bank.json is larger than the loader reads (4194304 bytes)"},
      {BREAK(b.assets[0].bytes = -1, std::filesystem::resize_file(b.file("audio/a.wav"), kMaxBankFileBytes + 1)), 5,
       R"(asset "a" is larger than the loader reads (536870912 bytes))"},
      {BREAK(Bytes wav = wavBytes(kPcm16Mono, {0.5, 0.5}); b.assets.clear(), wav.pop_back(), b.addAsset("a", "a.wav", wav)),
       4, R"(asset "a": data chunk claims 4 bytes, the file holds 3)"},
  };
  for (const auto &[breakIt, outcome, expected] : rows) {
    BankFolder bank;
    goodBank(bank);
    std::string text = expected, instrument;
    if (const size_t at = text.find("%D"); at != std::string::npos) text.replace(at, 2, bank.assets[0].sha256.substr(0, 16));
    if (const size_t at = text.find("%F"); at != std::string::npos) text.replace(at, 2, bank.path());
    size_t capacity = 0;
    breakIt(bank, instrument, capacity);
    if (!std::filesystem::exists(bank.file(kBankManifestName))) bank.writeManifest();
    const RuntimeBankLoad load = loadRuntimeBank(bank.path(), capacity, instrument);
    EXPECT_EQ(load.outcome, outcome) << expected;
    EXPECT_EQ(load.error, text);
  }
}
#undef BREAK

TEST(RuntimeBankPaths, ContainmentAndJoining) {
  const std::pair<const char *, bool> contained[] = {
      {"a.wav", true}, {"./a.wav", true},  {"audio//a.wav", true}, {"..a/b..", true}, {"", false},    {"/a", false},
      {"a\\b", false}, {"..", false},      {"a/../b", false},      {"a/..", false},   {"../a", false},
  };
  for (const auto &[path, ok] : contained) EXPECT_EQ(pathIsContained(path), ok) << path;
  const std::array<const char *, 3> joins[] = {
      {"b", "", "b"}, {"b", "/x", "/x"}, {"", "x", "x"}, {"b/", "x", "b/x"}, {"b", "x/y", "b/x/y"}};
  for (const auto &[base, relative, joined] : joins) EXPECT_EQ(joinPath(base, relative), joined);
  EXPECT_EQ(sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A link inside the folder is followed; one that leads out makes an asset
// escape, the instrument document unreadable and a preset skipped.
TEST(RuntimeBankPaths, LinksOutOfTheFolderAreRefused) {
  BankFolder outside, bank, inside;
  outside.write("b.wav", wavBytes(kPcm16Mono, {0.5}));
  outside.write("doc.json", instrumentDocument(R"([{"assetId":"a"}])"));
  outside.write("p.json", R"({"params":{"v":1}})");
  for (const char *name : {"b.wav", "doc.json", "p.json"}) std::filesystem::create_symlink(outside.file(name), bank.file(name));
  goodBank(bank);
  bank.assets.push_back({"b", "b.wav", "", -1, ""});
  bank.writeManifest();
  EXPECT_EQ(loaded(bank).error, R"(asset "b" path escapes the bank directory)");
  bank.assets.pop_back();
  bank.instruments = {R"({"id":"k","document":"doc.json"})"};
  bank.presets = {R"({"id":"p","document":"p.json"})"};
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  EXPECT_EQ(load.error, "bank.json names no readable instrument/kit document");
  EXPECT_TRUE(load.bank.presets.empty());

  goodBank(inside);
  inside.assets[0].path = "./link//a.wav";
  std::filesystem::create_symlink("audio", inside.file("link"));
  inside.writeManifest();
  EXPECT_EQ(loaded(inside).error, "");
}

// Also: without "bytes" and "sha256" an asset is not checked, and an asset no
// zone uses is verified but never decoded.
TEST(RuntimeBank, ChoosesTheFirstInstrumentOrKitWithADocument) {
  BankFolder bank;
  goodBank(bank);
  bank.assets[0].bytes = -1;
  bank.assets[0].sha256 = "";
  bank.addAsset("unused", "notes.txt", {'x'});
  bank.instruments.insert(bank.instruments.begin(), R"({"id":"bare","name":"Bare"})");
  bank.addInstrument("pads", "Pads", "pads.json", R"([{"assetId":"a","startFrame":2}])", true);
  bank.writeManifest();
  const std::tuple<const char *, const char *, uint64_t> cases[] = {{"", "keys|instruments", 4}, {"pads", "pads|kits", 2}};
  for (const auto &[requested, chosen, length] : cases) {
    const RuntimeBankLoad load = loaded(bank, requested);
    ASSERT_EQ(load.outcome, kBankOk) << load.error;
    EXPECT_EQ(load.bank.instrumentId + "|" + load.bank.instrumentList, chosen);
    EXPECT_EQ(load.bank.zones.at(0).length, length);
    EXPECT_EQ(load.bank.samples.size(), 4u);
  }
  EXPECT_EQ(loaded(bank, "bare").outcome, kBankInstrumentUnknown);
}

TEST(RuntimeBankZones, DefaultsAndClamps) {
  const StagedZone d = stageZone(parsed("{}"), 10, 100, 44100);
  EXPECT_EQ(std::vector<double>({double(d.start), double(d.length), double(d.lowKey), double(d.highKey),
                                 double(d.rootKey), double(d.lowVelocity), double(d.highVelocity), d.gain, d.pan,
                                 d.attackSeconds, d.releaseSeconds, double(d.trigger), d.sampleRate}),
            std::vector<double>({10, 100, 0, 127, 60, 0, 127, 1, 0, 0.001, 0.05, 0, 44100}));
  EXPECT_TRUE(d.keyTracking && !d.reverse && !d.loop);
  const StagedZone z = stageZone(parsed(R"({"lowKey":-3,"highKey":200,"rootKey":59.5,"lowVelocity":0.49,
      "highVelocity":nan,"roundRobinGroup":2.9,"chokeGroup":-1,"trigger":"legato","keyTracking":false,
      "reverse":true,"gain":"2","pan":-0.5,"fineTuneCents":1e999})"), 0, 100, 48000);
  EXPECT_EQ(std::vector<uint32_t>({z.lowKey, z.highKey, z.rootKey, z.lowVelocity, z.highVelocity,
                                   z.roundRobinGroup, z.chokeGroup, uint32_t(z.trigger)}),
            std::vector<uint32_t>({0, 127, 60, 0, 0, 2, 0, 2}));
  EXPECT_TRUE(!z.keyTracking && z.reverse && z.gain == 1.0 && z.pan == -0.5 && std::isinf(z.fineTuneCents));
  EXPECT_EQ(triggerCode("release") * 10 + triggerCode("Release"), 10);
}

// An asset of 100 frames at arena offset 1000: start, length, loop on, loop
// start, loop end and crossfade of each zone.
TEST(RuntimeBankZones, RangesLoopsAndCrossfades) {
  const std::pair<const char *, std::array<uint64_t, 6>> cases[] = {
      {R"("startFrame":10,"endFrame":50)", {1010, 40, 0, 0, 0, 0}},
      {R"("startFrame":100,"endFrame":50)", {1000, 50, 0, 0, 0, 0}}, // a start past the asset is ignored
      {R"("startFrame":10.9,"endFrame":500)", {1010, 90, 0, 0, 0, 0}},
      {R"("startFrame":10,"endFrame":10)", {1010, 90, 0, 0, 0, 0}},
      {R"("startFrame":10,"loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":40)", {1010, 90, 1, 10, 50, 40}},
      {R"("loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":41)", {1000, 100, 1, 20, 60, 0}},
      {R"("startFrame":10,"loopStartFrame":5,"loopEndFrame":60)", {1010, 90, 0, 0, 0, 0}},
      {R"("loopStartFrame":60,"loopEndFrame":60)", {1000, 100, 0, 0, 0, 0}},
      {R"("endFrame":50,"loopStartFrame":0,"loopEndFrame":51)", {1000, 50, 0, 0, 0, 0}},
      {R"("endFrame":50,"loopStartFrame":0,"loopEndFrame":50)", {1000, 50, 1, 0, 50, 0}},
      {R"("loopMode":"pingpong","loopStartFrame":20,"loopEndFrame":60,"loopCrossfadeFrames":5)", {1000, 100, 0, 0, 0, 0}},
  };
  for (const auto &[members, expected] : cases) {
    const std::string text = std::string("{\"loopMode\":\"forward\",") + members + "}";
    const StagedZone z = stageZone(parsed(text), 1000, 100, 48000);
    EXPECT_EQ((std::array<uint64_t, 6>{z.start, z.length, z.loop, z.loopStart, z.loopEnd, z.loopCrossfadeFrames}),
              expected)
        << members;
  }
}

// Each asset sits once in the arena, where a zone first uses it; the bank's
// rate is that of the first asset decoded.
TEST(RuntimeBankZones, ZonesShareTheirAssetsSamples) {
  BankFolder bank;
  bank.addWav("wide", "wide.wav", kPcm24Stereo, {0.5, 0.25, -1, 1, 0.75, 0.75});
  bank.addWav("float", "float.wav", kFloat32Mono, {0.125, -0.125});
  bank.addInstrument("kit", "Kit", "kit.json", R"([{"assetId":"float"},{"assetId":"wide","startFrame":1},
                                                  {"assetId":"float","endFrame":1},{"assetId":"wide"}])");
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  ASSERT_EQ(load.outcome, kBankOk) << load.error;
  EXPECT_EQ(load.bank.samples, (std::vector<float>{0.125f, -0.125f, 12288 / 32768.f, 0, 24575 / 32768.f}));
  std::vector<std::array<uint64_t, 2>> ranges;
  for (const StagedZone &z : load.bank.zones) ranges.push_back({z.start, z.length});
  EXPECT_EQ(ranges, (std::vector<std::array<uint64_t, 2>>{{0, 2}, {3, 2}, {0, 1}, {2, 3}}));
  EXPECT_EQ(load.bank.sampleRate * 10 + load.bank.zones[1].sampleRate, 960000 + 44100);
}

TEST(RuntimeBank, PresetsWithParametersInKeyOrder) {
  BankFolder bank;
  goodBank(bank);
  bank.addPreset("b", "", "keys", "p/b.json", R"({"z":1,"a":-2.5,"m":"x","n":nan,"a":3,"i":1e999})");
  bank.addPreset("c", "Cee", "", "p/c.json", R"({"only":"text"})");
  bank.addPreset("", "no id", "", "p/d.json", R"({"v":1})");
  bank.addPreset("e", "", "", "../e.json", R"({"v":1})");
  bank.addPreset("f", "", "", "p/f.json", "[1]");
  bank.addPreset("k", "Kay", "pads", "p/k.json", R"({"v":0})");
  bank.write("p/bad.json", R"({"params":{"v":1},})");
  bank.presets.insert(bank.presets.end(), {R"({"id":"g","document":"p/none"})", R"("h")", R"({"id":"l","document":"p/bad.json"})"});
  bank.writeManifest();
  const RuntimeBankLoad load = loaded(bank);
  ASSERT_EQ(load.bank.presets.size(), 2u) << load.error;
  const StagedPreset &b = load.bank.presets[0];
  EXPECT_EQ(b.id + "|" + b.name + "|" + b.instrument + "|" + load.bank.presets[1].name, "b|b|keys|Kay");
  EXPECT_EQ(b.params, (std::vector<std::pair<std::string, double>>{{"a", 3}, {"z", 1}}));
}

std::string decoded(const Bytes &bytes, std::vector<float> &samples, double &rate) {
  WavAudio audio;
  std::string error;
  decodeWav(bytes.data(), bytes.size(), audio, error);
  samples = audio.samples, rate = audio.sampleRate;
  return error;
}

std::vector<float> grid(std::initializer_list<int> steps) {
  std::vector<float> out;
  for (int step : steps) out.push_back(float(step / 32768.0));
  return out;
}

// Every format lands on the 16-bit grid: v * 32767 rounded half away from
// zero, stereo as (L + R) / 2, float clamped and not-a-number as silence.
TEST(BankWav, FormatsAndTheChunkWalk) {
  Bytes chunks = wavBytes(kPcm16Mono, {0.5, 0.5, 0.5});
  // An odd chunk with its pad byte first; the last data chunk wins; a chunk
  // that runs past the end ends the walk.
  const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'x', 'y', 'z', 0};
  const Bytes more = {'d', 'a', 't', 'a', 3, 0, 0, 0, 0, 0x20, 7, 0, 'j', 'u', 'n', 'k', 0xFF, 0, 0, 0, 1};
  chunks.insert(chunks.begin() + 36, list.begin(), list.end());
  chunks.insert(chunks.end(), more.begin(), more.end());
  const std::tuple<Bytes, std::vector<float>, double> cases[] = {
      {wavBytes(kPcm16Mono, {0.5, -0.5, 32767 / 32768.0, -1, 1 / 32768.0}), grid({16384, -16384, 32766, -32767, 1}), 48000},
      {wavBytes(kPcm24Stereo, {0.5, 0.25, -1, 1, 1, 1, 0.5}), grid({12288, 0, 32767}), 44100},
      {wavBytes(kFloat32Mono, {0.25, 2, -2, std::nan("")}), grid({8192, 32767, -32768, 0}), 96000},
      {wavBytes({3, 32, 2, 0, true}, {0.5, 0.5}), grid({16384}), 48000},
      {chunks, grid({8192}), 48000},
  };
  for (const auto &[bytes, samples, rate] : cases) {
    std::vector<float> got;
    double gotRate = 0;
    EXPECT_EQ(decoded(bytes, got, gotRate), "");
    EXPECT_EQ(got, samples);
    EXPECT_EQ(gotRate, rate);
  }
}

TEST(BankWav, Refusals) {
  Bytes cut = wavBytes(kPcm16Mono, {0.5, 0.5, 0.5, 0.5}), noRiff = cut, noWave = cut, noFmt = cut, fourBit = cut;
  cut.resize(cut.size() - 3);
  noRiff[0] = 'X', noWave[11] = 'X', noFmt[12] = 'F', fourBit[34] = 4;
  const std::pair<Bytes, std::string> cases[] = {
      {wavBytes({1, 8, 1, 8000}, {0, 0, 0, 0}), "unsupported WAV format tag 1 / 8-bit"},
      {wavBytes({1, 32, 1, 8000}, {0, 0}), "unsupported WAV format tag 1 / 32-bit"},
      {wavBytes({3, 16, 1, 8000, true}, {0, 0}), "unsupported WAV format tag 3 / 16-bit"},
      {wavBytes({1, 16, 3, 8000}, {0, 0, 0}), "unsupported channel count 3"},
      {noFmt, "unsupported channel count 0"},
      {fourBit, "empty or unreadable data chunk"},
      {wavBytes(kPcm24Stereo, {0.5}), "empty or unreadable data chunk"},
      {wavBytes(kPcm16Mono, {}), "no data chunk"},
      {cut, "data chunk claims 8 bytes, the file holds 5"},
      {Bytes(noFmt.begin(), noFmt.begin() + 43), "not a RIFF/WAVE file"},
      {noRiff, "not a RIFF/WAVE file"},
      {noWave, "not a RIFF/WAVE file"},
  };
  for (const auto &[bytes, text] : cases) {
    std::vector<float> samples;
    double rate = 0;
    EXPECT_EQ(decoded(bytes, samples, rate), text);
  }
}

// What the reader accepts is what the toolkit's skipValue accepts as one
// whole document (fuzz_bank_document; skipValue's cases are json_toolkit_test's).
TEST(BankDocument, LookupsByKind) {
  const JsonValue doc = parsed(R"({"s":"x","s":"y","n":"2","b":1,"o":{"k":[true,-0.5]},"f":false})");
  double number = 7;
  bool flag = true;
  EXPECT_EQ(doc.str("s") + doc.str("n", "-") + doc.str("none", "-") + doc.str("b", "-"), "y2--");
  EXPECT_FALSE(doc.numberMember("n", number) || doc.boolMember("b", flag));
  EXPECT_TRUE(doc.boolMember("f", flag) && !flag && number == 7);
  const JsonValue *k = doc.find("o")->find("k");
  ASSERT_TRUE(k != nullptr && k->isArray() && k->array.size() == 2);
  EXPECT_EQ(k->array[1].number, -0.5);
  EXPECT_EQ(k->find("0"), nullptr);
}

} // namespace
} // namespace norva
