// norva-probe: the MIDI file bytes, the command line, the render loop's
// block bookkeeping, and whole renders through the kernel.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_backend.h"
#include "midi_file.h"
#include "probe_cli.h"
#include "probe_options.h"
#include "render.h"
#include "summary.h"

namespace norva::probe {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes varLen(uint32_t value) {
  Bytes bytes;
  EXPECT_TRUE(appendVariableLength(value, bytes)) << value;
  return bytes;
}

// Reads back a format-0 file as this writer produces it: header, one track of
// channel messages with two data bytes, tempo and end-of-track meta events.
struct ReadTrack {
  uint32_t tempo = 0;
  uint64_t endTick = 0;
  std::vector<MidiFileEvent> events;
};

bool readMidiFile(const Bytes &b, ReadTrack &track) {
  const Bytes header = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
  if (b.size() < 22 || !std::equal(header.begin(), header.end(), b.begin())) return false;
  const size_t length = (size_t(b[18]) << 24) | (size_t(b[19]) << 16) | (size_t(b[20]) << 8) | b[21];
  if (length != b.size() - 22) return false;
  size_t at = 22;
  uint64_t tick = 0;
  auto readVarLen = [&](uint64_t &value) {
    value = 0;
    for (int i = 0; i < 4 && at < b.size(); ++i) {
      value = (value << 7) | (b[at] & 0x7F);
      if ((b[at++] & 0x80) == 0) return true;
    }
    return false;
  };
  while (at < b.size()) {
    uint64_t delta = 0;
    if (!readVarLen(delta) || at >= b.size()) return false;
    tick += delta;
    const uint8_t status = b[at++];
    if (status == 0xFF) {
      const uint8_t type = b[at++];
      uint64_t size = 0;
      if (!readVarLen(size) || at + size > b.size()) return false;
      if (type == 0x51 && size == 3) track.tempo = (b[at] << 16) | (b[at + 1] << 8) | b[at + 2];
      at += size;
      if (type == 0x2F) {
        track.endTick = tick;
        return at == b.size();
      }
    } else {
      if ((status & 0x80) == 0 || at + 2 > b.size()) return false;
      track.events.push_back({tick, status, b[at], b[at + 1]});
      at += 2;
    }
  }
  return false;
}

// --- MIDI file writer ----------------------------------------------------

TEST(ProbeMidiFile, VariableLengthQuantitiesAtGroupBoundaries) {
  EXPECT_EQ(varLen(0), (Bytes{0x00}));
  EXPECT_EQ(varLen(0x7F), (Bytes{0x7F}));
  EXPECT_EQ(varLen(0x80), (Bytes{0x81, 0x00}));
  EXPECT_EQ(varLen(0x3FFF), (Bytes{0xFF, 0x7F}));
  EXPECT_EQ(varLen(0x4000), (Bytes{0x81, 0x80, 0x00}));
  EXPECT_EQ(varLen(0x0FFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  Bytes tooLong;
  EXPECT_FALSE(appendVariableLength(0x10000000, tooLong));
  EXPECT_TRUE(tooLong.empty());
}

TEST(ProbeMidiFile, EmptyTrackIsHeaderTempoAndEndOfTrack) {
  Bytes bytes;
  std::string error;
  ASSERT_TRUE(buildMidiFile(microsPerQuarter(120), {}, 0, bytes, error)) << error;
  const Bytes expected = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                          'M', 'T', 'r', 'k', 0, 0, 0, 11,
                          0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, // 500000 us per quarter
                          0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(bytes, expected);
}

TEST(ProbeMidiFile, DeltasTrackLengthAndEndTick) {
  // Deltas 127 and 128 straddle the one-byte limit; the end lies 0x4000 later.
  const std::vector<MidiFileEvent> events = {
      {127, 0x95, 60, 100}, {255, 0x85, 60, 0}, {255, 0xB5, 1, 64}};
  Bytes bytes;
  std::string error;
  ASSERT_TRUE(buildMidiFile(500000, events, 255 + 0x4000, bytes, error)) << error;
  const Bytes track(bytes.begin() + 22, bytes.end());
  const Bytes expectedTrack = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
                               0x7F, 0x95, 60, 100,
                               0x81, 0x00, 0x85, 60, 0,
                               0x00, 0xB5, 1, 64,
                               0x81, 0x80, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(track, expectedTrack);
  EXPECT_EQ(bytes[21], expectedTrack.size());

  // An end tick before the last event still closes the track at that event.
  ASSERT_TRUE(buildMidiFile(500000, events, 10, bytes, error));
  ReadTrack read;
  ASSERT_TRUE(readMidiFile(bytes, read));
  EXPECT_EQ(read.endTick, 255u);
}

TEST(ProbeMidiFile, RefusesWhatAFileCannotHold) {
  Bytes bytes;
  std::string error;
  EXPECT_FALSE(buildMidiFile(500000, {{20, 0x90, 60, 1}, {10, 0x80, 60, 0}}, 0, bytes, error));
  EXPECT_FALSE(buildMidiFile(500000, {{0x10000000, 0x90, 60, 1}}, 0, bytes, error));
  EXPECT_FALSE(buildMidiFile(0x1000000, {}, 0, bytes, error));
  EXPECT_FALSE(writeBinaryFile("/nonexistent-dir/x.mid", {1}, error));
  EXPECT_EQ(error.rfind("cannot write '/nonexistent-dir/x.mid': ", 0), 0u) << error;
}

TEST(ProbeMidiFile, TimingAndChannelMessages) {
  EXPECT_EQ(microsPerQuarter(120), 500000u);
  EXPECT_EQ(microsPerQuarter(140), 428571u);
  EXPECT_EQ(frameToTick(6000, 48000, 120), 120u);
  EXPECT_EQ(frameToTick(5512, 44100, 120), 120u); // 119.99 rounds up
  EXPECT_EQ(frameToTick(5513, 44100, 120), 120u); // 120.01 rounds down
  EXPECT_EQ(frameToTick(44100 * 3600, 44100, 300), 8640000u);

  const std::vector<RenderedEvent> events = {
      {0, OutputKind::ControlChange, 1, 127 / 127.0f, -1},
      {6000, OutputKind::NoteOn, 60, 64 / 127.0f, -1},
      {9000, OutputKind::NoteOff, 60, 0.0, -1},
      {9000, OutputKind::NoteOn, 61, 1 / 127.0f, 2}}; // a reported channel wins
  const std::vector<MidiFileEvent> midi = toMidiFileEvents(events, 48000, 120, 9);
  ASSERT_EQ(midi.size(), 4u);
  EXPECT_EQ(midi[0].status, 0xB9);
  EXPECT_EQ(midi[0].data2, 127);
  EXPECT_EQ(midi[1].tick, 120u);
  EXPECT_EQ(midi[1].status, 0x99);
  EXPECT_EQ(midi[1].data2, 64);
  EXPECT_EQ(midi[2].status, 0x89);
  EXPECT_EQ(midi[2].data2, 0);
  EXPECT_EQ(midi[3].status, 0x92);
  EXPECT_EQ(midi[3].data2, 1);
}

// --- command line ----------------------------------------------------------

bool parse(std::vector<std::string> args, RenderOptions &options, std::string &error) {
  ParsedCommand command;
  if (!parseCommandLine(args, command, error)) return false;
  options = command.render;
  return command.kind == CommandKind::Render;
}

TEST(ProbeCommandLine, DefaultsAndResolvedInputs) {
  RenderOptions options;
  std::string error;
  ASSERT_TRUE(parse({"render", "--out", "a.mid"}, options, error)) << error;
  EXPECT_EQ(options.sampleRate, 48000u);
  EXPECT_EQ(options.blockFrames, 128u);
  EXPECT_EQ(options.totalFrames, 384000u);
  EXPECT_EQ(effectiveParameterValue(options, 1), 120.0);

  ASSERT_TRUE(parse({"render", "--rate=44100", "--seconds", "0.75", "--set", "tindrel.bpm=90",
                     "--set=1=+95.5", "--set", "20=15", "--note", "0.5:72:on:0.25",
                     "--note", "0.00001:0:off", "--out", "a.mid"},
                    options, error))
      << error;
  EXPECT_EQ(options.totalFrames, 33075u);
  ASSERT_EQ(options.settings.size(), 3u);
  EXPECT_EQ(options.settings[0].id, 1u);
  EXPECT_EQ(effectiveParameterValue(options, 1), 95.5); // the last setting wins
  EXPECT_EQ(effectiveParameterValue(options, 20), 15.0);
  ASSERT_EQ(options.notes.size(), 2u);
  EXPECT_EQ(options.notes[0].frame, 22050u); // the rate given after the note applies
  EXPECT_EQ(options.notes[0].velocity, 0.25);
  EXPECT_EQ(options.notes[1].frame, 0u); // 0.441 frames rounds to 0
  EXPECT_FALSE(options.notes[1].on);
}

TEST(ProbeCommandLine, RejectsBadInputWithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "--set", "tindrel.bmp=140"}, "unknown parameter key 'tindrel.bmp'"},
      {{"render", "--set", "53=1"}, "unknown parameter id '53'"},
      {{"render", "--set", "tindrel.bpm"}, "bad --set 'tindrel.bpm'"},
      {{"render", "--set", "tindrel.bpm=140x"}, "bad value '140x' for tindrel.bpm"},
      {{"render", "--set", "tindrel.bpm=inf"}, "bad value 'inf'"},
      {{"render", "--set", "tindrel.bpm=300.5"}, "bad value '300.5'"},
      {{"render", "--set", "tindrel.direction=2.5"}, "expected a whole number from 0 to 5"},
      {{"render", "--rate", "48000.0"}, "bad value '48000.0' for --rate"},
      {{"render", "--block", "129"}, "bad value '129' for --block"},
      {{"render", "--seconds", "0"}, "bad value '0' for --seconds"},
      {{"render", "--seconds", "nan"}, "bad value 'nan' for --seconds"},
      {{"render", "--seconds", "8", "--note", "8:60:on", "--out", "a"}, "outside the render"},
      {{"render", "--note", "-1:60:on"}, "bad note time '-1'"},
      {{"render", "--note", "1:128:on"}, "bad note number '128'"},
      {{"render", "--note", "1:60:on:1.5"}, "bad velocity '1.5'"},
      {{"render", "--note", "1:60:off:0"}, "a note off takes no velocity"},
      {{"render", "--rate"}, "option '--rate' needs a value"},
      {{"render", "--frobnicate", "1"}, "unknown option '--frobnicate'"},
      {{"render", "stray"}, "unexpected argument 'stray'"},
      {{"render"}, "render needs --out FILE.mid"},
      {{"render", "--out", ""}, "bad value '' for --out"},
      {{"play"}, "unknown command 'play'"},
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

TEST(ProbeCommandLine, HelpAndNoArguments) {
  std::ostringstream out, err;
  EXPECT_EQ(runProbe({"--help"}, out, err), kExitOk);
  EXPECT_NE(out.str().find("usage: norva-probe render"), std::string::npos);
  EXPECT_EQ(runProbe({"render", "--help"}, out, err), kExitOk);
  std::ostringstream out2, err2;
  EXPECT_EQ(runProbe({}, out2, err2), kExitUsage);
  EXPECT_NE(err2.str().find("usage:"), std::string::npos);
}

// --- render loop -------------------------------------------------------------

// Records every call and answers each block with one note-on at the offset of
// each note pushed into it.
class FakeBackend final : public SequencerBackend {
public:
  uint32_t maxEvents = 64;
  BlockStatus status = BlockStatus::Ok;
  std::vector<std::string> calls;
  std::vector<uint32_t> pushedFrames;

  bool create(double, uint32_t, std::string &) override { return true; }
  uint32_t maxEventsPerBlock() const override { return maxEvents; }
  bool pushParameter(uint32_t frame, uint32_t id, double value, std::string &) override {
    calls.push_back("param " + std::to_string(id) + "=" + formatNumber(value) + " @" +
                    std::to_string(frame));
    return true;
  }
  bool pushNote(uint32_t frame, uint32_t note, bool on, double, std::string &) override {
    calls.push_back("note " + std::to_string(note) + (on ? " on" : " off") + " @" +
                    std::to_string(frame));
    pushedFrames.push_back(frame);
    return true;
  }
  BlockStatus runBlock(uint32_t frames, std::string &message) override {
    calls.push_back("run " + std::to_string(frames));
    message = "refused";
    return status;
  }
  bool readOutputs(std::vector<BackendOutput> &outputs, std::string &) override {
    // Deliberately out of order: the loop must order a block's output.
    for (auto it = pushedFrames.rbegin(); it != pushedFrames.rend(); ++it)
      outputs.push_back({*it, OutputKind::NoteOn, 60, 1.0, -1});
    pushedFrames.clear();
    return true;
  }
};

RenderOptions fakeOptions(uint64_t totalFrames, uint32_t block) {
  RenderOptions options;
  options.totalFrames = totalFrames;
  options.blockFrames = block;
  return options;
}

TEST(ProbeRenderLoop, BlocksInputsAndAbsoluteFrames) {
  FakeBackend backend;
  RenderOptions options = fakeOptions(300, 128);
  options.settings = {{8, 2}, {1, 140}};
  options.notes = {{0, 200, 64, false, 0}, {0, 0, 62, true, 1}, {0, 130, 61, true, 1}};
  RenderResult result;
  std::string error;
  ASSERT_TRUE(renderSequence(backend, options, result, error)) << error;
  const std::vector<std::string> expected = {
      "param 8=2 @0", "param 1=140 @0", "note 62 on @0", "run 128",
      "note 61 on @2", "note 64 off @72", "run 128", "run 44"};
  EXPECT_EQ(backend.calls, expected);
  ASSERT_EQ(result.events.size(), 3u);
  EXPECT_EQ(result.events[0].frame, 0u);
  EXPECT_EQ(result.events[1].frame, 130u);
  EXPECT_EQ(result.events[2].frame, 200u);
  EXPECT_TRUE(result.warning.empty());
}

TEST(ProbeRenderLoop, SplitsABlockWithMoreInputsThanTheBackendTakes) {
  FakeBackend backend;
  backend.maxEvents = 2;
  RenderOptions options = fakeOptions(128, 128);
  options.notes = {{0, 10, 60, true, 1}, {0, 10, 61, true, 1}, {0, 20, 62, true, 1},
                   {0, 20, 63, true, 1}};
  RenderResult result;
  std::string error;
  ASSERT_TRUE(renderSequence(backend, options, result, error)) << error;
  const std::vector<std::string> expected = {"note 60 on @10", "note 61 on @10", "run 20",
                                             "note 62 on @0",  "note 63 on @0",  "run 108"};
  EXPECT_EQ(backend.calls, expected);
  ASSERT_EQ(result.events.size(), 4u);
  EXPECT_EQ(result.events[3].frame, 20u);

  FakeBackend crowded;
  crowded.maxEvents = 2;
  options.notes.push_back({0, 20, 64, true, 1});
  EXPECT_FALSE(renderSequence(crowded, options, result, error));
  EXPECT_NE(error.find("more than 2 inputs at frame 20"), std::string::npos) << error;
}

TEST(ProbeRenderLoop, RejectedInputWarnsOnceAndKeepsOutput) {
  FakeBackend backend;
  backend.status = BlockStatus::EventRejected;
  RenderOptions options = fakeOptions(256, 128);
  options.notes = {{0, 5, 60, true, 1}, {0, 133, 60, true, 1}};
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

// --- whole renders through the kernel ---------------------------------------

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tempPath(const char *name) { return ::testing::TempDir() + name; }

TEST(ProbeKernelRender, SixteenthsAt120BpmLandEvery120Ticks) {
  const std::string path = tempPath("probe_sixteenths.mid");
  std::ostringstream out, err;
  // Fill the rests of the default velocity figure so every step sounds.
  const int status = runProbe({"render", "--rate", "48000", "--set", "tindrel.bpm=120",
                               "--set", "tindrel.resolution=3", "--set", "tindrel.channel=5",
                               "--set", "tindrel.g3=90", "--set", "tindrel.g7=90", "--set",
                               "tindrel.g11=90", "--set", "tindrel.g15=90", "--out", path},
                              out, err);
  ASSERT_EQ(status, kExitOk) << err.str();
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(out.str(), "notes: 64\nfirst frame: 0\nlast frame: 378000\ndistinct pitches: 1 (60)\n");

  ReadTrack track;
  ASSERT_TRUE(readMidiFile(readFile(path), track));
  std::remove(path.c_str());
  EXPECT_EQ(track.tempo, 500000u);
  EXPECT_EQ(track.endTick, 7680u); // 8 s at 120 BPM
  std::vector<MidiFileEvent> ons;
  for (const MidiFileEvent &event : track.events) {
    EXPECT_EQ(event.status & 0x0F, 5) << "every message on channel 5";
    if ((event.status & 0xF0) == 0x90) ons.push_back(event);
  }
  ASSERT_EQ(ons.size(), 64u);
  for (size_t i = 0; i < ons.size(); ++i) {
    EXPECT_EQ(ons[i].tick, 120 * i) << i;
    EXPECT_EQ(ons[i].data1, 60);
  }
  EXPECT_EQ(ons[0].data2, 100);
  EXPECT_EQ(ons[1].data2, 60);
  EXPECT_EQ(ons[2].data2, 90);
}

TEST(ProbeKernelRender, BlockLengthDoesNotMoveAnything) {
  auto render = [](uint32_t block) {
    RenderOptions options = fakeOptions(96000, block);
    options.settings = {{1, 137}, {3, 0.7}};     // tempo and shuffle off the grid
    options.notes = {{0, 30001, 72, true, 0.5}}; // passes through as a note of its own
    KernelBackend backend;
    RenderResult result;
    std::string error;
    EXPECT_TRUE(renderSequence(backend, options, result, error)) << error;
    return result.events;
  };
  const std::vector<RenderedEvent> reference = render(128);
  const std::vector<RenderedEvent> odd = render(37);
  ASSERT_FALSE(reference.empty());
  ASSERT_EQ(odd.size(), reference.size());
  bool sawInput = false;
  for (size_t i = 0; i < reference.size(); ++i) {
    EXPECT_EQ(odd[i].frame, reference[i].frame) << i;
    EXPECT_EQ(odd[i].kind, reference[i].kind) << i;
    EXPECT_EQ(odd[i].number, reference[i].number) << i;
    if (reference[i].number == 72 && reference[i].kind == OutputKind::NoteOn) {
      sawInput = true;
      EXPECT_EQ(reference[i].frame, 30001u);
      EXPECT_NEAR(reference[i].value, 64 / 127.0, 1e-6);
    }
  }
  EXPECT_TRUE(sawInput);
}

TEST(ProbeKernelRender, RejectedParameterWarnsButStillWritesTheRender) {
  const std::string path = tempPath("probe_rejected.mid");
  std::ostringstream out, err;
  // chainStart above the default chainEnd (7) is refused inside the kernel.
  ASSERT_EQ(runProbe({"render", "--seconds", "1", "--set", "tindrel.chainStart=9", "--out", path},
                     out, err),
            kExitOk);
  EXPECT_NE(err.str().find("norva-probe: warning: block at frame 0:"), std::string::npos)
      << err.str();
  EXPECT_EQ(err.str().find('\n'), err.str().size() - 1);
  EXPECT_EQ(out.str().rfind("notes: 6\n", 0), 0u) << out.str(); // 8 steps, 2 rests
  EXPECT_FALSE(readFile(path).empty());
  std::remove(path.c_str());

  std::ostringstream out2, err2;
  EXPECT_EQ(runProbe({"render", "--seconds", "1", "--out", "/nonexistent-dir/p.mid"}, out2, err2),
            kExitFailure);
  EXPECT_EQ(err2.str().rfind("norva-probe: cannot write '/nonexistent-dir/p.mid': ", 0), 0u);
  EXPECT_TRUE(out2.str().empty());
}

} // namespace
} // namespace norva::probe
