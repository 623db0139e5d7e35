// The processor in-process, driven with the probe's host objects:
// behaviour a host relies on beyond what the bundle validator sees,
// and what real hosts do to a plug-in: every note-on the processor sends is
// ended by a note-off on its channel, whatever the host does between them;
// the host's transport reaches the controller when it polls, as the 88 bytes
// of a TransportFact.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "controller/cadence_clock.h"
#include "params/params.h"
#include "processor_rig.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace norva::probe;
using namespace norva;
using Hanging = std::vector<std::string>;

double normalized(uint32_t id, double plain) { return norva::norva_param_normalize(&norva::NORVA_PARAMS[id], plain); }

// One processor, set up and active at 48 kHz with 512-frame blocks.
class Processor : public ::testing::Test {
protected:
  norva::test::ProcessorRig rig;
  std::vector<Event> run(std::vector<Event> in = {}, ParameterChanges *changes = nullptr) { return rig.run(in, changes); }
  Hanging hanging() const { return rig.tally.hanging(); }
};

// The same with the sequencer stopped, so only the host's notes play.
class HostFaults : public Processor {
protected:
  void SetUp() override {
    ParameterChanges stop;
    stop.add(norva::kParamRun, 0, 0.0);
    run({}, &stop);
  }
};

// Notes go out on the channel parameter, their note-offs with them (when the
// channel changes under a sounding note is kernel_engine_test's).
TEST_F(Processor, NotesGoOutOnTheChannelTheirNoteStartedOn) {
  ParameterChanges tenth;
  tenth.add(kParamChannel, 0, 9.0 / 15.0); // channel 10 in a musician's counting
  std::vector<Event> events = run({}, &tenth);
  for (int block = 0; block < 6; ++block) // to the note-off at 3000
    for (const Event &e : run()) events.push_back(e);
  std::string channels;
  for (const Event &e : events) {
    if (e.type == Event::kNoteOnEvent) channels += "on" + std::to_string(e.noteOn.channel) + " ";
    if (e.type == Event::kNoteOffEvent) channels += "off" + std::to_string(e.noteOff.channel) + " ";
  }
  EXPECT_EQ(channels, "on9 off9 ");
}

TEST_F(Processor, TheCurveControllerGoesOutAsNumberAndValue) {
  ParameterChanges changes;
  changes.add(kParamCurveCc, 0, 74.0 / 119.0);
  const std::vector<Event> events = run({}, &changes);
  ASSERT_FALSE(events.empty());
  const Event &cc = events.front();
  ASSERT_EQ(cc.type, Event::kLegacyMIDICCOutEvent);
  EXPECT_EQ(cc.sampleOffset, 0);
  EXPECT_EQ(cc.midiCCOut.controlNumber, 74);
  EXPECT_EQ(cc.midiCCOut.value, 0) << "the factory curve";
  EXPECT_EQ(cc.midiCCOut.channel, 0);
}

// Blocks with the host's transport and a poll every three (about 1/30 s)
// for the given time; what the polls sent.
std::vector<TransportFact> playAndPoll(test::ProcessorRig &rig, double seconds) {
  std::vector<TransportFact> sent;
  for (int poll = 0; poll < int(seconds * kCadenceRateHz); ++poll) {
    for (int b = 0; b < 3; ++b) rig.run({}, nullptr, true);
    for (const TransportFact &fact : rig.pollTransport()) sent.push_back(fact);
  }
  return sent;
}

TEST_F(Processor, APollSendsTheHostsTransportOnceAndOnResetAgain) {
  for (int b = 0; b < 9; ++b) run();
  EXPECT_TRUE(rig.pollTransport(1).empty()) << "blocks without a context take no sample";
  rig.transport.tempo = 133, rig.transport.numerator = 7, rig.transport.denominator = 8;
  rig.transport.continuousFrame = 96000; // the host ran before its transport started
  rig.run({}, nullptr, true);
  const std::vector<TransportFact> first = rig.pollTransport();
  ASSERT_EQ(first.size(), 1u);
  const TransportFact &f = first[0];
  // Source host; playing, not recording or looping; every capability but canSetTempo.
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&f.source), 9), std::string("\1\1\0\0\1\1\1\1\0", 9));
  EXPECT_EQ((std::vector<double>{double(f.atFrame), f.tempo, double(f.numerator), double(f.denominator), f.loopEndPpq,
                                 f.sampleRate}),
            (std::vector<double>{96000, 133, 7, 8, 16, 48000}));
  EXPECT_TRUE(rig.pollTransport().empty()) << "nothing new";
  const std::vector<TransportFact> again = rig.pollTransport(1);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(std::memcmp(&again[0], &f, sizeof f), 0);
  const std::vector<TransportFact> later = playAndPoll(rig, 4); // past two bars of 7/8, not three
  ASSERT_GE(later.size(), 4u) << "a playing transport keeps moving";
  EXPECT_EQ(later.back().ppqPosition, double(later.back().projectTimeSamples) / 48000 * 133 / 60);
  EXPECT_EQ(later.back().barPositionPpq, 7.0);
}

// A change of play state arrives within a fifth of a second; a still
// transport is sent once.
TEST_F(Processor, PlayStateChangesArriveAndAStillTransportOnlyOnce) {
  for (const int state : {0, 100, 110, 101, 1}) { // playing, recording, cycle active as digits
    rig.transport.playing = state / 100, rig.transport.recording = state / 10 % 10;
    rig.transport.cycleActive = state % 10;
    const std::vector<TransportFact> sent = playAndPoll(rig, 0.2);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().playing * 100 + sent.back().recording * 10 + sent.back().looping, state);
    EXPECT_TRUE(state >= 100 || sent.size() == 1u) << state;
  }
  EXPECT_TRUE(playAndPoll(rig, 1).empty()) << "stopped and unchanged";
}

// A host's panic: note-offs for all 128 pitches at offset 0, twice the
// kernel's per-call queue.
TEST_F(HostFaults, AnAllNotesOffSweepEndsEveryNote) {
  run({makeNoteOn(0, 100, 1.0f), makeNoteOn(3, 20, 1.0f)});
  std::vector<Event> sweep;
  for (int16 pitch = 0; pitch < 128; ++pitch) sweep.push_back(makeNoteOff(0, pitch));
  run(sweep);
  EXPECT_EQ(hanging(), Hanging{});
}

// A preset arrives while a chord is held: its changed values go to the
// kernel at the next block's start, in the same queue as the releases.
TEST_F(HostFaults, LoadingAPresetWhileAChordIsHeldLosesNoRelease) {
  std::vector<Event> chord, release;
  for (int16 pitch = 40; pitch < 56; ++pitch) {
    chord.push_back(makeNoteOn(0, pitch, 0.8f));
    release.push_back(makeNoteOff(10, pitch));
  }
  run(chord);
  std::string state = R"({"params":{"tindrel.run":0)";
  for (int k = 1; k <= 32; ++k) state += ",\"tindrel.g" + std::to_string(k) + "\":" + std::to_string(k);
  for (const char *key : {"bpm\":97", "shuffle\":0.6", "gateScale\":1.5", "transpose\":3", "octave\":2",
                          "direction\":2", "length\":9", "chainEnd\":9", "curveCc\":20", "keyRoot\":4",
                          "scaleMask\":2741", "seed\":77", "velocityScale\":0.5", "resolution\":5"})
    state += std::string(",\"tindrel.") + key;
  state += "}}";
  MemoryStream stream(state);
  ASSERT_EQ(rig.processor->setState(&stream), kResultOk);
  run(release);
  EXPECT_EQ(hanging(), Hanging{});
}

// Key following takes over incoming notes: a key already let through still
// gets its note-off.
TEST_F(HostFaults, KeyFollowSwitchedOnWhileAKeyIsHeldKeepsItsRelease) {
  run({makeNoteOn(0, 62, 1.0f)});
  ParameterChanges follow;
  follow.add(norva::kParamKeyFollow, 0, 1.0);
  run({makeNoteOn(5, 64, 1.0f)}, &follow); // taken by key following, never sent
  run({makeNoteOff(0, 62), makeNoteOff(0, 64)});
  EXPECT_EQ(hanging(), Hanging{});
}

TEST_F(HostFaults, AChannelChangeBetweenOverlappingNotesOfOnePitchEndsBoth) {
  run({makeNoteOn(0, 64, 1.0f)});
  ParameterChanges channel;
  channel.add(norva::kParamChannel, 0, normalized(norva::kParamChannel, 5));
  run({makeNoteOn(10, 64, 1.0f)}, &channel);
  run({makeNoteOff(0, 64), makeNoteOff(1, 64)});
  EXPECT_EQ(hanging(), Hanging{});
}

// A block whose notes fill the output list: the list keeps a place for the
// note-off of every note it sent, so the keys released later in the block,
// and the sequencer's own notes, still end.
TEST_F(HostFaults, ABlockThatFillsTheOutputKeepsItsNoteOffs) {
  rig.configure(16384);
  std::vector<Event> flood, release;
  for (int i = 0; i < 2040; ++i) {
    flood.push_back(makeNoteOn(0, int16(i % 128), 1.0f));
    release.push_back(makeNoteOff(0, int16(i % 128)));
  }
  for (int16 pitch = 0; pitch < 20; ++pitch) flood.push_back(makeNoteOff(1000, pitch));
  ParameterChanges start, stop;
  start.add(norva::kParamRun, 0, 1.0);
  stop.add(norva::kParamRun, 0, 0.0);
  run(flood, &start);
  run(release, &stop);
  run();
  EXPECT_EQ(hanging(), Hanging{});
}

// A number that cannot be written back is refused when read, and the
// health report says so; the rest of the document is kept.
TEST_F(HostFaults, StateValuesThatCannotBeSavedAgainAreRefusedAndReported) {
  MemoryStream stream(std::string(R"({"params":{"tindrel.bpm":1e999,"tindrel.length":7}})"));
  ASSERT_EQ(rig.processor->setState(&stream), kResultOk);
  EXPECT_EQ(rig.processor->engine().paramValue(norva::kParamLength), 7.0);
  EXPECT_EQ(rig.processor->engine().paramValue(norva::kParamBpm), 120.0);
  const auto &ring = rig.processor->engine().diagnostics();
  ASSERT_EQ(ring.count, 1u);
  EXPECT_EQ(ring.records[0].code, uint32_t(norva::kDiagStateRestoreFailed));
  EXPECT_STREQ(ring.records[0].detail, "source=state; refused=1");
}

} // namespace
