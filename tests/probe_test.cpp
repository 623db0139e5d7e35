// norva-probe: the MIDI file bytes, the command line, the render loop's
// block bookkeeping, the memory stream `validate` reads state through, `bank
// check`, renders of the built bundle through a saved state and its diagnostic
// bridge's exports. What the plug-in does as a VST 3 component is `norva-probe
// validate`'s (ctest probe_validate); midicsv's reading of a rendered file with
// a note of its own is probe_render_midicsv.sh's; `norva-probe bridge` over a
// pipe is probe_bridge_test.py's; output that does not depend on the block
// length is kernel_engine_test's.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bank_folder.h"
#include "bridge.h"
#include "midi_file.h"
#include "probe_cli.h"
#include "probe_options.h"
#include "render.h"
#include "vst3_backend.h"
#include "vst3_host.h"

#ifndef NORVA_PROBE_TEST_LIBRARY
#error "NORVA_PROBE_TEST_LIBRARY must name the built plug-in library"
#endif

namespace norva::probe {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kHeader = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
const Bytes kTempo120 = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}; // 500000 us per quarter

// --- MIDI file writer ----------------------------------------------------

// The track below crosses the one- and two-byte limits; these are the others.
TEST(ProbeMidiFile, VariableLengthQuantitiesAtGroupBoundaries) {
  Bytes bytes;
  EXPECT_TRUE(appendVariableLength(0x3FFF, bytes) && appendVariableLength(0x0FFFFFFF, bytes));
  EXPECT_EQ(bytes, (Bytes{0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_FALSE(appendVariableLength(0x10000000, bytes));
  EXPECT_EQ(bytes.size(), 6u) << "a refused value appends nothing";
}

TEST(ProbeMidiFile, HeaderTempoDeltasTrackLengthAndEndTick) {
  Bytes bytes;
  std::string error;
  ASSERT_TRUE(buildMidiFile(microsPerQuarter(120), {}, 0, bytes, error)) << error;
  Bytes expected = kHeader;
  expected.insert(expected.end(), {0, 0, 0, 11});
  expected.insert(expected.end(), kTempo120.begin(), kTempo120.end());
  expected.insert(expected.end(), {0x00, 0xFF, 0x2F, 0x00});
  EXPECT_EQ(bytes, expected);

  // Deltas 127 and 128 straddle the one-byte limit; the end lies 0x4000 later.
  const std::vector<MidiFileEvent> events = {{127, 0x95, 60, 100}, {255, 0x85, 60, 0}, {255, 0xB5, 1, 64}};
  ASSERT_TRUE(buildMidiFile(500000, events, 255 + 0x4000, bytes, error)) << error;
  Bytes track = kTempo120;
  track.insert(track.end(), {0x7F, 0x95, 60, 100, 0x81, 0x00, 0x85, 60, 0, 0x00, 0xB5, 1, 64,
                             0x81, 0x80, 0x00, 0xFF, 0x2F, 0x00});
  EXPECT_EQ(Bytes(bytes.begin() + 22, bytes.end()), track);
  EXPECT_EQ(bytes[21], track.size());
  // An end tick before the last event still closes the track at that event.
  ASSERT_TRUE(buildMidiFile(500000, events, 10, bytes, error));
  EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), (Bytes{0x00, 0xFF, 0x2F, 0x00}));
}

TEST(ProbeMidiFile, RefusesWhatAFileCannotHold) {
  Bytes bytes;
  std::string error;
  EXPECT_FALSE(buildMidiFile(500000, {{20, 0x90, 60, 1}, {10, 0x80, 60, 0}}, 0, bytes, error));
  EXPECT_FALSE(buildMidiFile(500000, {{0x10000000, 0x90, 60, 1}}, 0, bytes, error));
  EXPECT_FALSE(buildMidiFile(0x1000000, {}, 0, bytes, error)); // tempo beyond three bytes
  EXPECT_FALSE(writeBinaryFile("/nonexistent-dir/x.mid", {1}, error));
  EXPECT_EQ(error.rfind("cannot write '/nonexistent-dir/x.mid': ", 0), 0u) << error;
}

TEST(ProbeMidiFile, TicksTempoAndChannelMessages) {
  EXPECT_EQ(microsPerQuarter(140), 428571u);
  EXPECT_EQ(frameToTick(6000, 48000, 120), 120u);
  EXPECT_EQ(frameToTick(5512, 44100, 120), 120u); // 119.99 rounds up
  EXPECT_EQ(frameToTick(5513, 44100, 120), 120u); // 120.01 rounds down
  EXPECT_EQ(frameToTick(44100 * 3600, 44100, 300), 8640000u);

  const std::vector<RenderedEvent> events = {{0, OutputKind::ControlChange, 1, 1.0, -1},
                                             {6000, OutputKind::NoteOn, 60, 64 / 127.0f, -1},
                                             {9000, OutputKind::NoteOff, 60, 0.0, -1},
                                             {9000, OutputKind::NoteOn, 61, 1 / 127.0f, 2}};
  std::vector<std::array<uint64_t, 4>> midi;
  for (const MidiFileEvent &e : toMidiFileEvents(events, 48000, 120, 9))
    midi.push_back({e.tick, e.status, e.data1, e.data2});
  const std::vector<std::array<uint64_t, 4>> expected = { // a reported channel wins
      {0, 0xB9, 1, 127}, {120, 0x99, 60, 64}, {180, 0x89, 60, 0}, {180, 0x92, 61, 1}};
  EXPECT_EQ(midi, expected);
}

// --- command line ----------------------------------------------------------

TEST(ProbeCommandLine, DefaultsAndResolvedInputs) {
  ParsedCommand command;
  std::string error;
  ASSERT_TRUE(parseCommandLine({"render", "B.vst3", "--out", "a.mid"}, command, error)) << error;
  ASSERT_EQ(command.kind, CommandKind::Render);
  const RenderOptions &options = command.render;
  const auto numbers = [&options] {
    std::vector<double> out = {double(options.totalFrames), double(options.blockFrames),
                               effectiveParameterValue(options, 1)};
    for (const NoteInput &n : options.notes)
      out.insert(out.end(), {double(n.frame), double(n.note), n.velocity, double(n.on)});
    return out;
  };
  EXPECT_EQ(numbers(), (std::vector<double>{384000, 512, 120})); // 8 s at 48 kHz

  ASSERT_TRUE(parseCommandLine({"render", "B.vst3", "--seconds", "0.75", "--block", "16384", "--set",
                                "tindrel.bpm=90", "--set=1=+95.5", "--note", "0.5:72:on:0.25", "--note",
                                "0.00001:0:off", "--rate=44100", "--load-state", "in.json", "--out", "a.mid"},
                               command, error))
      << error;
  // The last setting wins; a rate given after a note applies to it; 0.441
  // frames round to 0.
  EXPECT_EQ(numbers(), (std::vector<double>{33075, 16384, 95.5, 22050, 72, 0.25, 1, 0, 0, 0, 0}));
  EXPECT_EQ(options.loadStatePath + "|" + options.saveStatePath, "in.json|");
}

TEST(ProbeCommandLine, RejectsBadInputWithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "B", "--set", "tindrel.bmp=140"}, "unknown parameter key 'tindrel.bmp'"},
      {{"render", "B", "--set", "tindrel.bpm=140x"}, "bad value '140x' for tindrel.bpm"},
      {{"render", "B", "--set", "tindrel.direction=2.5"}, "expected a whole number from 0 to 5"},
      {{"render", "B", "--block", "16385"}, "bad value '16385' for --block"},
      {{"render", "B", "--seconds", "nan"}, "bad value 'nan' for --seconds"},
      {{"render", "B", "--seconds", "8", "--note", "8:60:on", "--out", "a"}, "outside the render"},
      {{"render", "B", "--note", "1:60:off:0"}, "a note off takes no velocity"},
      {{"render", "B"}, "render needs --out FILE.mid"}, {{"render", "--out", "a.mid"}, "render needs a BUNDLE"},
      {{"play"}, "unknown command 'play'"},
      {{"bank"}, "bank needs a command: check"}, {{"bank", "load", "F"}, "unknown bank command 'load'"},
      {{"bank", "check"}, "bank check needs a FOLDER"}, {{"bank", "check", "F", "G"}, "unexpected argument 'G'"},
      {{"bank", "check", "F", "--instrument"}, "option '--instrument' needs a value"},
      {{"bridge"}, "bridge needs a BUNDLE"}, {{"bridge", "B", "--render"}, "option '--render' needs a value"},
      {{"bridge", "B", "--render="}, "bad value '' for --render"}, {{"bridge", "B", "--set"}, "unexpected argument"},
  };
  for (const auto &[args, expected] : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(runProbe(args, out, err), kExitUsage) << expected;
    const std::string text = err.str();
    EXPECT_EQ(text.rfind("norva-probe: ", 0), 0u) << text;
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_TRUE(out.str().empty());
  }
}

// --- render loop -------------------------------------------------------------

// Records every call and answers each block, deliberately out of order, with
// one note-on at the offset of each note pushed into it.
class FakeBackend final : public SequencerBackend {
public:
  uint32_t maxEvents = 64;
  BlockStatus status = BlockStatus::Ok;
  std::vector<std::string> calls;
  std::vector<uint32_t> pushedFrames;

  bool create(double, uint32_t, std::string &) override { return true; }
  uint32_t maxEventsPerBlock() const override { return maxEvents; }
  bool pushParameter(uint32_t frame, uint32_t id, double value, std::string &) override {
    calls.push_back("param " + std::to_string(id) + "=" + formatNumber(value) + " @" + std::to_string(frame));
    return true;
  }
  bool pushNote(uint32_t frame, uint32_t note, bool on, double, std::string &) override {
    calls.push_back("note " + std::to_string(note) + (on ? " on @" : " off @") + std::to_string(frame));
    pushedFrames.push_back(frame);
    return true;
  }
  BlockStatus runBlock(uint32_t frames, std::string &message) override {
    calls.push_back("run " + std::to_string(frames));
    message = "refused";
    return status;
  }
  bool readOutputs(std::vector<BackendOutput> &outputs, std::string &) override {
    for (auto it = pushedFrames.rbegin(); it != pushedFrames.rend(); ++it)
      outputs.push_back({*it, OutputKind::NoteOn, 60, 1.0, -1});
    pushedFrames.clear();
    return true;
  }
};

RenderOptions fakeOptions(uint64_t totalFrames, uint32_t block, std::vector<NoteInput> notes) {
  RenderOptions options;
  options.totalFrames = totalFrames;
  options.blockFrames = block;
  options.notes = std::move(notes);
  return options;
}

std::vector<uint64_t> framesOf(const RenderResult &result) {
  std::vector<uint64_t> frames;
  for (const RenderedEvent &event : result.events) frames.push_back(event.frame);
  return frames;
}

TEST(ProbeRenderLoop, SplitsABlockWithMoreInputsThanTheBackendTakes) {
  FakeBackend backend;
  backend.maxEvents = 2;
  RenderOptions options = fakeOptions(
      128, 128, {{0, 10, 60, true, 1}, {0, 10, 61, true, 1}, {0, 20, 62, true, 1}, {0, 20, 63, true, 1}});
  RenderResult result;
  std::string error;
  ASSERT_TRUE(renderSequence(backend, options, result, error)) << error;
  EXPECT_EQ(backend.calls, (std::vector<std::string>{"note 60 on @10", "note 61 on @10", "run 20",
                                                     "note 62 on @0", "note 63 on @0", "run 108"}));
  EXPECT_EQ(framesOf(result), (std::vector<uint64_t>{10, 10, 20, 20}));

  FakeBackend crowded; // three inputs on one frame cannot be split
  crowded.maxEvents = 2;
  options.notes.push_back({0, 20, 64, true, 1});
  EXPECT_FALSE(renderSequence(crowded, options, result, error));
  EXPECT_NE(error.find("more than 2 inputs at frame 20"), std::string::npos) << error;
}

TEST(ProbeRenderLoop, RejectedInputWarnsOnceAndFailedBlockEndsTheRun) {
  FakeBackend backend;
  backend.status = BlockStatus::EventRejected;
  const RenderOptions options = fakeOptions(256, 128, {{0, 5, 60, true, 1}, {0, 133, 60, true, 1}});
  RenderResult result;
  std::string error;
  ASSERT_TRUE(renderSequence(backend, options, result, error)) << error;
  EXPECT_EQ(result.events.size(), 2u);
  EXPECT_EQ(result.warning, "block at frame 0: refused");

  FakeBackend failing;
  failing.status = BlockStatus::Failed;
  EXPECT_FALSE(renderSequence(failing, options, result, error));
  EXPECT_EQ(error, "block at frame 0: refused");
}

// --- host objects --------------------------------------------------------------

using namespace Steinberg;
using namespace Steinberg::Vst;

// validate reads state through these streams in small pieces; a stream that
// ignored its piece size would let those checks pass untested.
TEST(ProbeHostObjects, StreamsDeliverInPiecesAndOverwrite) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(std::string("abcdefghij"), 4));
  char buffer[16] = {};
  int32 got = -1;
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk);
  ASSERT_EQ(stream->read(buffer, 3, &got), kResultOk);
  EXPECT_EQ(std::string(buffer, 3), "efg");
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk);
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk); // the end reads as nothing, not as a failure
  EXPECT_EQ(stream->reads(), (std::vector<int32_t>{4, 3, 3, 0}));
  ASSERT_EQ(stream->seek(-2, IBStream::kIBSeekEnd, nullptr), kResultOk);
  char more[] = "XYZ";
  ASSERT_EQ(stream->write(more, 3, &got), kResultOk); // overwrites two, appends one
  EXPECT_EQ(stream->text(), "abcdefghXYZ");
}

// --- bank check ----------------------------------------------------------------

TEST(ProbeBankCheck, ReportsAGoodBankAndFailsABrokenOne) {
  test::BankFolder bank;
  bank.addWav("a", "a.wav", test::kPcm16Mono, {0.5, 0.25, 0});
  bank.addInstrument("keys", "Keys", "keys.json", R"([{"assetId":"a"},{"assetId":"a","startFrame":1}])");
  bank.kits.push_back(R"({"id":"pads","name":"Pads"})");
  bank.addPreset("soft", "Soft", "keys", "soft.json", R"({"tindrel.bpm":90,"tindrel.gate":0.5})");
  const std::string manifest = bank.writeManifest();
  const std::string sha256 = sha256Hex(manifest.data(), manifest.size());
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"bank", "check", bank.path()}, kExitOk,
       "outcome: ok\nbank: test.bank \"Test Bank\" version \"1.0.0\"\nsha256: " + sha256 +
           "\ninstrument: keys \"Keys\" (instruments)\npositioning: keys \"Keys\" (instruments)\n"
           "positioning: pads \"Pads\" (kits)\npreset: soft \"Soft\" for \"keys\", 2 parameters\nzones: 2\n"
           "arena frames: 3\nsample rate: 48000\n"},
      {{"bank", "check", bank.path(), "--instrument=pads"}, kExitFailure,
       "outcome: bank-instrument-unknown\nerror: bank test.bank has no instrument or kit \"pads\" (known: keys, pads)\n"},
      {{"bank", "check", bank.file("none")}, kExitFailure,
       "outcome: bank-missing\nerror: cannot read " + bank.file("none/bank.json") + "\n"},
  };
  for (const auto &[args, status, report] : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(runProbe(args, out, err), status);
    EXPECT_EQ(out.str().substr(0, report.size()), report);
    EXPECT_EQ(err.str(), status == kExitOk ? "" : "norva-probe: bank check failed: " + report.substr(9, report.find('\n') - 9) + "\n");
  }
}

// --- the built bundle ---------------------------------------------------------------

const std::string kBundle =
    std::filesystem::path(NORVA_PROBE_TEST_LIBRARY).parent_path().parent_path().parent_path().string();

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tempPath(const char *name) { return ::testing::TempDir() + name; }

TEST(ProbeBundle, SavedStateRendersTheSameAndSetsTheFileTempo) {
  const std::string state = tempPath("probe_state.json");
  const std::string first = tempPath("probe_first.mid");
  const std::string second = tempPath("probe_second.mid");
  std::ostringstream out1, err1;
  ASSERT_EQ(runProbe({"render", kBundle, "--seconds", "2", "--set", "tindrel.bpm=140", "--set",
                      "tindrel.g2=0", "--set", "tindrel.g3=127", "--save-state", state, "--out", first},
                     out1, err1),
            kExitOk)
      << err1.str();
  // No --set: the tempo and the pattern come from the state alone.
  std::ostringstream out2, err2;
  ASSERT_EQ(
      runProbe({"render", kBundle, "--seconds", "2", "--load-state", state, "--out", second}, out2, err2),
      kExitOk)
      << err2.str();
  EXPECT_EQ(out2.str(), out1.str());
  const Bytes file = readFile(second);
  EXPECT_EQ(file, readFile(first));
  EXPECT_EQ(Bytes(file.begin() + 26, file.begin() + 29), (Bytes{0x06, 0x8A, 0x1B})); // 428571 us per quarter
  std::remove(first.c_str());
  std::remove(second.c_str());

  // A state the plug-in refuses ends the run before anything is written.
  std::ofstream(state, std::ios::binary) << "{\"params\":";
  std::ostringstream out3, err3;
  EXPECT_EQ(runProbe({"render", kBundle, "--load-state", state, "--out", second}, out3, err3), kExitFailure);
  EXPECT_EQ(err3.str(), "norva-probe: the processor refused the state (kResultFalse)\n");
  EXPECT_FALSE(std::filesystem::exists(second));
  std::remove(state.c_str());
}

// A pattern file: its selected pattern plays with its pitches, velocities and
// length (three steps, a second of sixteenths at 120 BPM); a file the reader
// refuses ends the run with the reason, before anything is written.
TEST(ProbeBundle, APatternFileIsPlayedOrRefusedWithItsReason) {
  const std::string pattern = tempPath("probe_pattern.json");
  const std::string midi = tempPath("probe_pattern.mid");
  const struct {
    const char *file;
    const char *said; // on standard output, or after "norva-probe: FILE: " on standard error
  } cases[] = {
      {R"({"patterns":[{"index":0,"length":3,"steps":[{"note":60},{"note":64,"velocity":90},{"note":67,"velocity":80}]}]})",
       "notes: 8\nfirst frame: 0\nlast frame: 42000\ndistinct pitches: 3 (60 64 67)\n"},
      {R"({"patterns":[{"index":32}]})", "pattern 1 of the list is malformed"},
      {R"({"patterns":[{"length":3}]})", "pattern 1 of the list has no \"index\""},
      {R"({"patterns":[{"index":0,"steps":[{"note":-1}]}]})", "pattern 1 of the list is malformed"},
      {R"({"patterns":{}})", "\"patterns\" is not a list"},
      {R"([])", "not a pattern file (a JSON object with \"patterns\")"},
  };
  for (const auto &c : cases) {
    std::ofstream(pattern, std::ios::binary) << c.file;
    std::ostringstream out, err;
    const int status = runProbe({"render", kBundle, "--seconds", "1", "--pattern", pattern, "--out", midi}, out, err);
    if (std::string(c.said).starts_with("notes")) {
      EXPECT_EQ(status, kExitOk) << err.str();
      EXPECT_EQ(out.str(), c.said);
    } else {
      EXPECT_EQ(status, kExitFailure) << c.file;
      EXPECT_EQ(err.str(), "norva-probe: " + pattern + ": " + c.said + "\n");
      EXPECT_FALSE(std::filesystem::exists(midi)) << c.file;
    }
    std::remove(midi.c_str());
  }
  std::remove(pattern.c_str());
}

// Answers every interface id with itself, as a careless or hostile object
// might: any call beyond FUnknown's on it would jump through a vtable it
// does not have.
class Impostor final : public Steinberg::FUnknown {
public:
  Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void **obj) override {
    ++asked;
    addRef();
    *obj = this;
    return Steinberg::kResultOk;
  }
  NORVA_PROBE_REFCOUNT
  int asked = 0;
};

TEST(ProbeBridge, TheExportsServeTheirOwnControllerAndNothingElse) {
  std::string error;
  const std::unique_ptr<BridgeSession> session = BridgeSession::open(NORVA_PROBE_TEST_LIBRARY, error);
  ASSERT_NE(session, nullptr) << error;
  const DiagnosticBridgeEntries &bridge = session->entries();
  std::vector<std::string> heard;
  const std::string ready = R"({"type":"norva.ready"})";
  ASSERT_TRUE(session->setSink([&](std::string_view text) { heard.emplace_back(text); }));
  ASSERT_TRUE(session->deliver(ready));
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_TRUE(heard[0].starts_with(R"({"type":"norva.hello","plugin":{"id":"music.norva.tindrel",)")) << heard[0];
  EXPECT_EQ(bridge.deliver(session->controller(), nullptr, 4), 0);
  EXPECT_EQ(bridge.startClock([](void *) {}, nullptr, 1.0 / 30), nullptr) << "the probe's host offers no run loop";
  bridge.stopClock(nullptr);
  bridge.stopClock(session->controller());  // not a clock: ignored
  EXPECT_EQ(std::string(bridge.uiRoot()),
            std::filesystem::canonical(std::filesystem::path(NORVA_PROBE_TEST_LIBRARY).parent_path().parent_path() /
                                       "Resources/ui")
                .string());

  // A null sink stops every delivery.
  ASSERT_TRUE(session->setSink([&](std::string_view) { heard.emplace_back("after removal"); }));
  ASSERT_EQ(bridge.installSink(session->controller(), nullptr, nullptr), 1);
  session->deliver(R"({"type":"norva.diag.subscribe","feeds":["lifecycle","transport"]})");
  session->deliver(ready);
  session->tick();
  EXPECT_EQ(heard.size(), 1u);

  // Anything but the controller, even one that claims every interface, is
  // refused without a call beyond queryInterface and release.
  IPtr<Impostor> impostor = owned(new Impostor());
  IPtr<MessageSink> stranger = owned(new MessageSink());
  auto sink = +[](void *, const char *, size_t) {};
  for (FUnknown *object : {static_cast<FUnknown *>(nullptr), static_cast<FUnknown *>(session->component()),
                           static_cast<FUnknown *>(impostor.get()), static_cast<FUnknown *>(stranger.get())}) {
    EXPECT_EQ(bridge.installSink(object, sink, nullptr), 0);
    EXPECT_EQ(bridge.deliver(object, ready.data(), ready.size()), 0);
    EXPECT_EQ(bridge.tick(object), 0);
  }
  EXPECT_EQ(impostor->asked, 3);
  EXPECT_EQ(impostor->addRef(), 2u) << "every reference it handed out was given back";
  impostor->release();
}

} // namespace
} // namespace norva::probe
