// norva-probe: the MIDI file bytes, the command line, the render loop's
// block bookkeeping, the host objects, and whole runs against the built
// plug-in bundle.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "midi_file.h"
#include "probe_cli.h"
#include "probe_options.h"
#include "render.h"
#include "summary.h"
#include "vst3_backend.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

#ifndef NORVA_PROBE_TEST_LIBRARY
#error "NORVA_PROBE_TEST_LIBRARY must name the built plug-in library"
#endif

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
  ASSERT_TRUE(parse({"render", "B.vst3", "--out", "a.mid"}, options, error)) << error;
  EXPECT_EQ(options.bundlePath, "B.vst3");
  EXPECT_EQ(options.sampleRate, 48000u);
  EXPECT_EQ(options.blockFrames, 512u);
  EXPECT_EQ(options.totalFrames, 384000u);
  EXPECT_EQ(effectiveParameterValue(options, 1), 120.0);
  EXPECT_TRUE(options.saveStatePath.empty());
  EXPECT_TRUE(options.loadStatePath.empty());

  ASSERT_TRUE(parse({"render", "B.vst3", "--rate=44100", "--seconds", "0.75", "--block", "16384",
                     "--set", "tindrel.bpm=90", "--set=1=+95.5", "--set", "20=15", "--note",
                     "0.5:72:on:0.25", "--note", "0.00001:0:off", "--load-state", "in.json",
                     "--save-state=out.json", "--out", "a.mid"},
                    options, error))
      << error;
  EXPECT_EQ(options.totalFrames, 33075u);
  EXPECT_EQ(options.blockFrames, 16384u);
  ASSERT_EQ(options.settings.size(), 3u);
  EXPECT_EQ(options.settings[0].id, 1u);
  EXPECT_EQ(effectiveParameterValue(options, 1), 95.5); // the last setting wins
  EXPECT_EQ(effectiveParameterValue(options, 20), 15.0);
  ASSERT_EQ(options.notes.size(), 2u);
  EXPECT_EQ(options.notes[0].frame, 22050u); // the rate given after the note applies
  EXPECT_EQ(options.notes[0].velocity, 0.25);
  EXPECT_EQ(options.notes[1].frame, 0u); // 0.441 frames rounds to 0
  EXPECT_FALSE(options.notes[1].on);
  EXPECT_EQ(options.loadStatePath, "in.json");
  EXPECT_EQ(options.saveStatePath, "out.json");

  ParsedCommand command;
  ASSERT_TRUE(parseCommandLine({"validate", "X.vst3"}, command, error)) << error;
  EXPECT_EQ(command.kind, CommandKind::Validate);
  EXPECT_EQ(command.bundlePath, "X.vst3");
  ASSERT_TRUE(parseCommandLine({"info", "X.so"}, command, error)) << error;
  EXPECT_EQ(command.kind, CommandKind::Info);
}

TEST(ProbeCommandLine, RejectsBadInputWithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"render", "B", "--set", "tindrel.bmp=140"}, "unknown parameter key 'tindrel.bmp'"},
      {{"render", "B", "--set", "53=1"}, "unknown parameter id '53'"},
      {{"render", "B", "--set", "tindrel.bpm"}, "bad --set 'tindrel.bpm'"},
      {{"render", "B", "--set", "tindrel.bpm=140x"}, "bad value '140x' for tindrel.bpm"},
      {{"render", "B", "--set", "tindrel.bpm=inf"}, "bad value 'inf'"},
      {{"render", "B", "--set", "tindrel.bpm=300.5"}, "bad value '300.5'"},
      {{"render", "B", "--set", "tindrel.direction=2.5"}, "expected a whole number from 0 to 5"},
      {{"render", "B", "--rate", "48000.0"}, "bad value '48000.0' for --rate"},
      {{"render", "B", "--block", "16385"}, "bad value '16385' for --block"},
      {{"render", "B", "--block", "0"}, "bad value '0' for --block"},
      {{"render", "B", "--seconds", "0"}, "bad value '0' for --seconds"},
      {{"render", "B", "--seconds", "nan"}, "bad value 'nan' for --seconds"},
      {{"render", "B", "--seconds", "8", "--note", "8:60:on", "--out", "a"}, "outside the render"},
      {{"render", "B", "--note", "-1:60:on"}, "bad note time '-1'"},
      {{"render", "B", "--note", "1:128:on"}, "bad note number '128'"},
      {{"render", "B", "--note", "1:60:on:1.5"}, "bad velocity '1.5'"},
      {{"render", "B", "--note", "1:60:off:0"}, "a note off takes no velocity"},
      {{"render", "B", "--rate"}, "option '--rate' needs a value"},
      {{"render", "B", "--frobnicate", "1"}, "unknown option '--frobnicate'"},
      {{"render", "B", "stray"}, "unexpected argument 'stray'"},
      {{"render", "B"}, "render needs --out FILE.mid"},
      {{"render", "B", "--out", ""}, "bad value '' for --out"},
      {{"render", "B", "--save-state", "", "--out", "a"}, "bad value '' for --save-state"},
      {{"render"}, "render needs a BUNDLE"},
      {{"render", "--out", "a.mid"}, "render needs a BUNDLE"},
      {{"validate"}, "validate needs a BUNDLE"},
      {{"info", "B", "extra"}, "unexpected argument 'extra'"},
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
  EXPECT_NE(out.str().find("usage: norva-probe info BUNDLE"), std::string::npos);
  EXPECT_NE(out.str().find("norva-probe validate BUNDLE"), std::string::npos);
  EXPECT_EQ(runProbe({"render", "--help"}, out, err), kExitOk);
  EXPECT_EQ(runProbe({"validate", "-h"}, out, err), kExitOk);
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

// --- host objects --------------------------------------------------------------

using namespace Steinberg;
using namespace Steinberg::Vst;

uint32 referenceCount(FUnknown *object) {
  object->addRef();
  return object->release();
}

TEST(ProbeHostObjects, ParameterQueuesKeepOffsetOrderAndReplaceSameOffset) {
  IPtr<ParameterChanges> changes = owned(new ParameterChanges());
  ASSERT_TRUE(changes->add(7, 100, 0.5));
  ASSERT_TRUE(changes->add(3, 0, 0.1));
  ASSERT_TRUE(changes->add(7, 10, 0.2));
  ASSERT_TRUE(changes->add(7, 100, 0.9)); // replaces the first point of id 7
  ASSERT_EQ(changes->getParameterCount(), 2);
  IParamValueQueue *queue = changes->getParameterData(0);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(queue->getParameterId(), 7u); // queues in order of first use
  ASSERT_EQ(queue->getPointCount(), 2);
  int32 offset = -1;
  ParamValue value = -1;
  ASSERT_EQ(queue->getPoint(0, offset, value), kResultOk);
  EXPECT_EQ(offset, 10);
  EXPECT_EQ(value, 0.2);
  ASSERT_EQ(queue->getPoint(1, offset, value), kResultOk);
  EXPECT_EQ(offset, 100);
  EXPECT_EQ(value, 0.9);
  EXPECT_NE(queue->getPoint(2, offset, value), kResultOk);
  EXPECT_EQ(changes->getParameterData(2), nullptr);
  changes->clear();
  EXPECT_EQ(changes->getParameterCount(), 0);
}

TEST(ProbeHostObjects, EventListRefusesBeyondItsCapacity) {
  IPtr<EventList> list = owned(new EventList(2));
  Event on = makeNoteOn(5, 60, 0.5f);
  Event off = makeNoteOff(9, 60);
  EXPECT_EQ(list->addEvent(on), kResultOk);
  EXPECT_EQ(list->addEvent(off), kResultOk);
  EXPECT_NE(list->addEvent(on), kResultOk);
  EXPECT_EQ(list->refusedAdds(), 1);
  Event read{};
  ASSERT_EQ(list->getEvent(1, read), kResultOk);
  EXPECT_EQ(read.type, Event::kNoteOffEvent);
  EXPECT_EQ(read.sampleOffset, 9);
  EXPECT_EQ(read.noteOff.noteId, -1);
  EXPECT_NE(list->getEvent(2, read), kResultOk);
  EXPECT_NE(list->getEvent(-1, read), kResultOk);
}

TEST(ProbeHostObjects, StreamsDeliverInPiecesSeekAndFail) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(std::string("abcdefghij"), 4));
  char buffer[16] = {};
  int32 got = -1;
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk);
  EXPECT_EQ(got, 4);
  ASSERT_EQ(stream->read(buffer, 3, &got), kResultOk);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(std::string(buffer, 3), "efg");
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk);
  EXPECT_EQ(got, 3);
  ASSERT_EQ(stream->read(buffer, 16, &got), kResultOk);
  EXPECT_EQ(got, 0); // the end reads as nothing, not as a failure
  EXPECT_EQ(stream->reads(), (std::vector<int32_t>{4, 3, 3, 0}));

  int64 position = -1;
  ASSERT_EQ(stream->seek(-2, IBStream::kIBSeekEnd, &position), kResultOk);
  EXPECT_EQ(position, 8);
  EXPECT_NE(stream->seek(-1, IBStream::kIBSeekSet, &position), kResultOk);
  char more[] = "XYZ";
  ASSERT_EQ(stream->write(more, 3, &got), kResultOk); // overwrites two, appends one
  EXPECT_EQ(stream->text(), "abcdefghXYZ");
  ASSERT_EQ(stream->tell(&position), kResultOk);
  EXPECT_EQ(position, 11);

  IPtr<FailingStream> failing = owned(new FailingStream());
  got = -1;
  EXPECT_NE(failing->read(buffer, 4, &got), kResultOk);
  EXPECT_EQ(got, 0);
  EXPECT_NE(failing->write(buffer, 4, &got), kResultOk);
  EXPECT_EQ(got, 0);
}

TEST(ProbeHostObjects, AttributesKeepTheirTypesAndStringsFitTheBuffer) {
  IPtr<HostAttributeList> list = owned(new HostAttributeList());
  ASSERT_EQ(list->setInt("n", -5), kResultOk);
  ASSERT_EQ(list->setFloat("f", 0.25), kResultOk);
  ASSERT_EQ(list->setString("s", u"hello"), kResultOk);
  const uint8_t bytes[] = {0, 1, 2, 0};
  ASSERT_EQ(list->setBinary("b", bytes, sizeof bytes), kResultOk);
  ASSERT_EQ(list->setBinary("empty", nullptr, 0), kResultOk);

  int64 n = 0;
  double f = 0;
  EXPECT_EQ(list->getInt("n", n), kResultOk);
  EXPECT_EQ(n, -5);
  EXPECT_NE(list->getInt("f", n), kResultOk); // a float is not an int
  EXPECT_EQ(list->getFloat("f", f), kResultOk);
  EXPECT_EQ(f, 0.25);
  EXPECT_NE(list->getFloat("missing", f), kResultOk);

  TChar small[4] = {u'x', u'x', u'x', u'x'};
  ASSERT_EQ(list->getString("s", small, sizeof small), kResultOk);
  EXPECT_EQ(std::u16string(small), u"hel"); // truncated and terminated

  const void *data = nullptr;
  uint32 size = 0;
  ASSERT_EQ(list->getBinary("b", data, size), kResultOk);
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(data, bytes, 4), 0);
  ASSERT_EQ(list->getBinary("empty", data, size), kResultOk);
  EXPECT_EQ(size, 0u);
  EXPECT_NE(list->getBinary("s", data, size), kResultOk);
}

TEST(ProbeHostObjects, HostMakesMessagesAndAttributeListsOnly) {
  IPtr<HostApplication> host = owned(new HostApplication());
  String128 name = {};
  ASSERT_EQ(host->getName(name), kResultOk);
  EXPECT_EQ(toAscii(name, 128), "Norva Probe");

  const int before = hostCensus().messages;
  IMessage *message = allocateMessage(host);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(hostCensus().messages, before + 1);
  EXPECT_EQ(message->getMessageID(), nullptr);
  message->setMessageID("norva.test");
  EXPECT_STREQ(message->getMessageID(), "norva.test");
  ASSERT_NE(message->getAttributes(), nullptr);
  EXPECT_EQ(message->release(), 0u);
  EXPECT_EQ(hostCensus().messages, before);

  TUID listIid, componentIid;
  IAttributeList::iid.toTUID(listIid);
  IComponent::iid.toTUID(componentIid);
  void *made = nullptr;
  ASSERT_EQ(host->createInstance(listIid, listIid, &made), kResultOk);
  static_cast<IAttributeList *>(made)->release();
  made = reinterpret_cast<void *>(1);
  EXPECT_NE(host->createInstance(componentIid, componentIid, &made), kResultOk);
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(hostCensus().attributeLists, 0);
}

// A connection point that counts the calls it gets.
class CountingPoint final : public IConnectionPoint {
public:
  tresult PLUGIN_API queryInterface(const TUID, void **obj) override {
    *obj = nullptr;
    return kNoInterface;
  }
  NORVA_PROBE_REFCOUNT
  tresult PLUGIN_API connect(IConnectionPoint *other) override {
    peer = other;
    return kResultOk;
  }
  tresult PLUGIN_API disconnect(IConnectionPoint *other) override {
    if (other != peer) return kResultFalse;
    peer = nullptr;
    return kResultOk;
  }
  tresult PLUGIN_API notify(IMessage *) override {
    ++received;
    return kResultOk;
  }
  IConnectionPoint *peer = nullptr;
  int received = 0;
};

TEST(ProbeHostObjects, ProxyConnectsForwardsLogsAndLetsGoFromEitherSide) {
  IPtr<CountingPoint> source = owned(new CountingPoint());
  IPtr<CountingPoint> destination = owned(new CountingPoint());
  IPtr<HostApplication> host = owned(new HostApplication());
  {
    IPtr<ConnectionProxy> proxy = owned(new ConnectionProxy(source));
    ASSERT_EQ(proxy->connect(destination), kResultOk);
    EXPECT_EQ(source->peer, proxy.get());
    EXPECT_NE(proxy->connect(destination), kResultOk); // one destination only

    IPtr<IMessage> message = owned(allocateMessage(host));
    message->setMessageID("norva.diag.hostFacts");
    message->getAttributes()->setBinary("json", "abc", 3);
    EXPECT_EQ(proxy->notify(message), kResultOk);
    EXPECT_EQ(destination->received, 1);
    ASSERT_EQ(proxy->log().size(), 1u);
    EXPECT_EQ(proxy->log()[0].id, "norva.diag.hostFacts");
    EXPECT_EQ(proxy->log()[0].jsonSize, 3);

    // The host disconnects: the source is told to let go of the proxy.
    ASSERT_EQ(proxy->disconnect(destination), kResultOk);
    EXPECT_EQ(source->peer, nullptr);
    EXPECT_FALSE(proxy->connected());
    EXPECT_NE(proxy->notify(message), kResultOk);

    // A source that disconnects itself (as terminate does) also ends it.
    ASSERT_EQ(proxy->connect(destination), kResultOk);
    ASSERT_EQ(proxy->disconnect(source), kResultOk);
    EXPECT_FALSE(proxy->connected());
    EXPECT_NE(proxy->disconnect(destination), kResultOk);
  }
  EXPECT_EQ(referenceCount(source), 1u);
  EXPECT_EQ(referenceCount(destination), 1u);
  EXPECT_EQ(hostCensus().proxies, 0);
}

// --- the built bundle ---------------------------------------------------------------

const std::string kLibrary = NORVA_PROBE_TEST_LIBRARY;
const std::string kBundle =
    std::filesystem::path(kLibrary).parent_path().parent_path().parent_path().string();

Bytes readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tempPath(const char *name) { return ::testing::TempDir() + name; }

TEST(ProbeModule, FindsTheLibraryOfABundleAndRefusesWhatIsNotOne) {
  std::string library, error;
  ASSERT_TRUE(resolveModulePath(kBundle, library, error)) << error;
  EXPECT_TRUE(std::filesystem::equivalent(library, kLibrary));
  ASSERT_TRUE(resolveModulePath(kBundle + "/", library, error)) << error;
  ASSERT_TRUE(resolveModulePath(kLibrary, library, error)) << error;
  EXPECT_EQ(library, kLibrary);
  ASSERT_TRUE(resolveModulePath(kBundle + "/Contents/x86_64-linux/../..", library, error)) << error;
  EXPECT_TRUE(std::filesystem::equivalent(library, kLibrary));

  EXPECT_FALSE(resolveModulePath(kBundle + "/nothing-here", library, error));
  EXPECT_EQ(error, "cannot find '" + kBundle + "/nothing-here'");
  EXPECT_FALSE(resolveModulePath(kBundle + "/Contents", library, error));
  EXPECT_NE(error.find("holds no Contents/x86_64-linux/Contents.so"), std::string::npos) << error;

  // A shared library that is no VST 3 module: the C library itself.
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void *>(&dlopen), &info), 0);
  EXPECT_EQ(Vst3Module::load(info.dli_fname, error), nullptr);
  EXPECT_NE(error.find("exports no ModuleEntry"), std::string::npos) << error;
  // A file that is no library at all.
  EXPECT_EQ(Vst3Module::load(kBundle + "/Contents/Resources/moduleinfo.json", error), nullptr);
  EXPECT_EQ(error.rfind("cannot load '", 0), 0u) << error;
}

TEST(ProbeBundle, InfoDescribesFactoryClassesBusesAndParameters) {
  std::ostringstream out, err;
  ASSERT_EQ(runProbe({"info", kBundle}, out, err), kExitOk) << err.str();
  const std::string text = out.str();
  for (const char *line : {"  vendor: Norva Music\n", "  flags: 0x10 (unicode)\n", "classes: 2\n",
                           "    cid: 643D3396653D3529623D3070633D3203\n",
                           "    sub-categories: Fx\n",
                           "    cid: 67EE543A68EE55CD65EE511466EE52A7\n",
                           "    sdk version: VST 3.8.1\n", "  audio inputs: 0\n",
                           "    0: \"Event In\", event input, 16 channels, main, flags 0x1 (default active)\n",
                           "    0: \"Event Out\", event output,",
                           "controller parameters: 53\n",
                           "  1: \"Tempo\", units \"BPM\", steps 0, default 0.35714285714285715, "
                           "unit 0, flags 0x1 (can automate)\n",
                           "  52: \"Step 32\","}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  }

  std::ostringstream out2, err2;
  EXPECT_EQ(runProbe({"info", "/nonexistent/Tindrel.vst3"}, out2, err2), kExitFailure);
  EXPECT_EQ(err2.str(), "norva-probe: cannot find '/nonexistent/Tindrel.vst3'\n");
  EXPECT_TRUE(out2.str().empty());
}

TEST(ProbeBundle, SixteenthsAt120BpmLandEvery120Ticks) {
  const std::string path = tempPath("probe_sixteenths.mid");
  std::ostringstream out, err;
  // Fill the rests of the default velocity figure so every step sounds.
  const int status = runProbe({"render", kBundle, "--rate", "48000", "--set", "tindrel.bpm=120",
                               "--set", "tindrel.resolution=3", "--set", "tindrel.g3=90", "--set",
                               "tindrel.g7=90", "--set", "tindrel.g11=90", "--set",
                               "tindrel.g15=90", "--out", path},
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
    EXPECT_EQ(event.status & 0x0F, 0) << "the plug-in plays on channel 1";
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

RenderOptions bundleOptions(uint64_t totalFrames, uint32_t block) {
  RenderOptions options;
  options.totalFrames = totalFrames;
  options.blockFrames = block;
  return options;
}

TEST(ProbeBundle, BlockLengthDoesNotMoveAnything) {
  auto render = [](uint32_t block) {
    RenderOptions options = bundleOptions(96000, block);
    options.settings = {{1, 137}, {3, 0.7}};     // tempo and shuffle off the grid
    options.notes = {{0, 30001, 72, true, 0.5}}; // passes through as a note of its own
    Vst3Backend backend(kBundle);
    RenderResult result;
    std::string error;
    EXPECT_TRUE(renderSequence(backend, options, result, error)) << error;
    return result.events;
  };
  const std::vector<RenderedEvent> reference = render(512);
  ASSERT_FALSE(reference.empty());
  bool sawInput = false;
  for (uint32_t block : {37u, 128u, 16384u}) {
    const std::vector<RenderedEvent> other = render(block);
    ASSERT_EQ(other.size(), reference.size()) << block;
    for (size_t i = 0; i < reference.size(); ++i) {
      EXPECT_EQ(other[i].frame, reference[i].frame) << block << " " << i;
      EXPECT_EQ(other[i].kind, reference[i].kind) << block << " " << i;
      EXPECT_EQ(other[i].number, reference[i].number) << block << " " << i;
      if (block == 37 && reference[i].number == 72 && reference[i].kind == OutputKind::NoteOn) {
        sawInput = true;
        EXPECT_EQ(reference[i].frame, 30001u);
        EXPECT_NEAR(reference[i].value, 64 / 127.0, 1e-6);
      }
    }
  }
  EXPECT_TRUE(sawInput);
}

TEST(ProbeBundle, SavedStateRendersTheSameAndSetsTheFileTempo) {
  const std::string state = tempPath("probe_state.json");
  const std::string first = tempPath("probe_first.mid");
  const std::string second = tempPath("probe_second.mid");
  std::ostringstream out1, err1;
  ASSERT_EQ(runProbe({"render", kBundle, "--seconds", "2", "--set", "tindrel.bpm=140", "--set",
                      "tindrel.g2=0", "--set", "tindrel.g3=127", "--save-state", state, "--out",
                      first},
                     out1, err1),
            kExitOk)
      << err1.str();
  const Bytes saved = readFile(state);
  const std::string text(saved.begin(), saved.end());
  EXPECT_EQ(text.rfind("{\"params\":{", 0), 0u) << text;
  EXPECT_NE(text.find("\"tindrel.bpm\":140"), std::string::npos) << text;
  EXPECT_NE(text.find("\"tindrel.g3\":127"), std::string::npos) << text;

  // No --set: the tempo and the pattern come from the state alone.
  std::ostringstream out2, err2;
  ASSERT_EQ(runProbe({"render", kBundle, "--seconds", "2", "--load-state", state, "--out", second},
                     out2, err2),
            kExitOk)
      << err2.str();
  EXPECT_EQ(out2.str(), out1.str());
  EXPECT_EQ(readFile(second), readFile(first));
  ReadTrack track;
  ASSERT_TRUE(readMidiFile(readFile(second), track));
  EXPECT_EQ(track.tempo, 428571u);
  std::remove(first.c_str());
  std::remove(second.c_str());

  // A state the plug-in refuses, and one that cannot be read, end the run.
  std::ofstream(state, std::ios::binary) << "{\"params\":";
  std::ostringstream out3, err3;
  EXPECT_EQ(runProbe({"render", kBundle, "--load-state", state, "--out", second}, out3, err3),
            kExitFailure);
  EXPECT_EQ(err3.str(), "norva-probe: the processor refused the state (kResultFalse)\n");
  std::remove(state.c_str());
  std::ostringstream out4, err4;
  EXPECT_EQ(runProbe({"render", kBundle, "--load-state", state, "--out", second}, out4, err4),
            kExitFailure);
  EXPECT_EQ(err4.str().rfind("norva-probe: cannot read '" + state + "': ", 0), 0u) << err4.str();
  EXPECT_TRUE(out4.str().empty());
}

TEST(ProbeBundle, PluginInstanceTearsDownInEveryOrderAndKeepsNothing) {
  std::string error;
  std::unique_ptr<Vst3Module> module = Vst3Module::load(kLibrary, error);
  ASSERT_NE(module, nullptr) << error;
  IPtr<HostApplication> host = owned(new HostApplication());
  using Teardown = PluginInstance::Teardown;
  for (Teardown order : {Teardown::ControllerFirst, Teardown::ProcessorFirst,
                         Teardown::TerminateConnected, Teardown::WithoutTerminate}) {
    std::unique_ptr<PluginInstance> plugin = PluginInstance::create(*module, host, error);
    ASSERT_NE(plugin, nullptr) << error;
    ASSERT_TRUE(plugin->syncController(error)) << error;
    ASSERT_TRUE(plugin->start(44100, 64, error)) << error;
    // Activation reports the host facts to the controller through the proxy.
    bool sawFacts = false;
    for (const MessageRecord &record : plugin->toController()->log())
      sawFacts = sawFacts || record.id == "norva.diag.hostFacts";
    EXPECT_TRUE(sawFacts);
    plugin->shutdown(order);
    EXPECT_EQ(hostCensus().proxies, 0);
    EXPECT_EQ(hostCensus().messages, 0);
    EXPECT_EQ(referenceCount(host), 1u) << "the plug-in kept the host context";
  }

  // The backend's creation fails cleanly on a set-up the plug-in refuses.
  Vst3Backend backend(kBundle);
  EXPECT_FALSE(backend.create(48000, 16385, error));
  EXPECT_NE(error.find("refused the set-up"), std::string::npos) << error;
}

} // namespace
} // namespace norva::probe
