// The processor and controller in-process, driven with the probe's host
// objects: behaviour a host relies on beyond what the bundle validator sees,
// and what real hosts do to a plug-in: every note-on the processor sends is
// ended by a note-off on its channel, whatever the host does between them;
// the host's transport reaches the controller when it polls.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "controller/norva_controller.h"
#include "diagnostics/host_facts.h"
#include "params/params.h"
#include "processor/norva_processor.h"
#include "note_tally.h"
#include "vst3_host.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using norva::probe::EventList;
using norva::probe::HostApplication;
using norva::probe::HostMessage;
using norva::probe::HostTransport;
using norva::probe::MessageSink;
using norva::probe::makeNoteOff;
using norva::probe::makeNoteOn;
using norva::probe::MemoryStream;
using norva::probe::ParameterChanges;
using norva::kParamChannel;
using norva::kParamCurveCc;
using Hanging = std::vector<std::string>;

double normalized(uint32_t id, double plain) { return norva::norva_param_normalize(&norva::NORVA_PARAMS[id], plain); }

// One processor, set up and active at 48 kHz with 512-frame blocks. The notes
// it sends are tallied.
class Processor : public ::testing::Test {
protected:
  void SetUp() override {
    host_ = new HostApplication();
    processor_ = new norva::NorvaProcessor();
    ASSERT_EQ(processor_->initialize(host_), kResultOk);
    activate(512);
  }
  void TearDown() override {
    processor_->setActive(false);
    processor_->terminate();
    processor_->release();
    host_->release();
  }

  void activate(int32 block) {
    ProcessSetup setup{kRealtime, kSample32, block, 48000.0};
    ASSERT_EQ(processor_->setupProcessing(setup), kResultOk);
    ASSERT_EQ(processor_->setActive(true), kResultOk);
  }

  // Runs one block and returns what the processor sent out.
  std::vector<Event> run(std::vector<Event> in = {}, ParameterChanges *changes = nullptr, int32 frames = 512,
                         ProcessContext *context = nullptr) {
    EventList input, output;
    for (Event &e : in) input.addEvent(e);
    ProcessData data;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.inputEvents = &input;
    data.inputParameterChanges = changes;
    data.outputEvents = &output;
    data.processContext = context;
    EXPECT_EQ(processor_->process(data), kResultOk);
    tally_.add(output.events());
    return output.events();
  }

  Hanging hanging() const { return tally_.hanging(); }

  HostApplication *host_ = nullptr;
  norva::NorvaProcessor *processor_ = nullptr;
  norva::test::NoteTally tally_;
};

// The same with the sequencer stopped, so only the host's notes play.
class HostFaults : public Processor {
protected:
  void SetUp() override {
    Processor::SetUp();
    ParameterChanges stop;
    stop.add(norva::kParamRun, 0, 0.0);
    run({}, &stop);
  }
};

// A fact's flag bytes as digits: source; playing, recording, looping; the
// tempo, time signature, position and loop capabilities; canSetTempo.
std::string flagDigits(const norva::TransportFact &f) {
  const auto d = [](uint8_t flag) { return char('0' + flag); };
  return {d(f.source),   ' ', d(f.playing),          d(f.recording),   d(f.looping), ' ',
          d(f.hasTempo), d(f.hasTimeSignature),      d(f.hasPosition), d(f.hasLoop), ' ', d(f.canSetTempo)};
}

// The host's transport: blocks carry the host's ProcessContext as asked for
// through IProcessContextRequirements; polls come as the controller's cadence
// sends them, and what they bring back is read from the record's bytes.
class Transport : public Processor {
protected:
  static constexpr int32 kBlock = 512;
  // Blocks between two of the controller's polls at 48 kHz (about).
  static constexpr int kBlocksPerPoll = 48000 / norva::kTransportPollsPerSecond / kBlock;

  void SetUp() override {
    Processor::SetUp();
    ASSERT_EQ(processor_->connect(sink_), kResultOk);
    FUnknownPtr<IProcessContextRequirements> needs(static_cast<IAudioProcessor *>(processor_));
    ASSERT_TRUE(needs);
    transport_.requirements = needs->getProcessContextRequirements();
  }

  void play(int blocks) {
    for (int b = 0; b < blocks; ++b) {
      ProcessContext context = transport_.context();
      run({}, nullptr, kBlock, &context);
      transport_.advance(kBlock);
    }
  }

  std::vector<norva::TransportFact> poll(std::optional<int64> reset = 0) {
    sink_->log.clear();
    IPtr<HostMessage> message = owned(new HostMessage());
    message->setMessageID(norva::kTransportPollMessage);
    if (reset) message->getAttributes()->setInt(norva::kTransportPollResetAttribute, *reset);
    EXPECT_EQ(processor_->notify(message), kResultOk);
    std::vector<norva::TransportFact> sent;
    for (const norva::probe::MessageRecord &record : sink_->log) {
      EXPECT_EQ(record.id, norva::kTransportFactMessage);
      EXPECT_EQ(record.jsonSize, int64_t(norva::kTransportFactBytes));
      norva::TransportFact fact;
      if (norva::transportFactFromBytes(record.json.data(), record.json.size(), fact)) sent.push_back(fact);
    }
    return sent;
  }

  // The given time of blocks and polls, as the host and the controller's
  // cadence make them; what the polls brought back.
  std::vector<norva::TransportFact> playAndPoll(double seconds) {
    std::vector<norva::TransportFact> sent;
    for (int tick = 0; tick < int(seconds * norva::kTransportPollsPerSecond); ++tick) {
      play(kBlocksPerPoll);
      for (const norva::TransportFact &fact : poll()) sent.push_back(fact);
    }
    return sent;
  }

  IPtr<MessageSink> sink_ = owned(new MessageSink());
  HostTransport transport_;
};

TEST_F(Transport, APollSendsTheHostsTempoSignatureAndPlayStateOnce) {
  transport_.tempo = 133;
  transport_.numerator = 7;
  transport_.denominator = 8;
  transport_.continuousFrame = 96000; // the host ran before the transport started
  play(1);
  const std::vector<norva::TransportFact> sent = poll();
  ASSERT_EQ(sent.size(), 1u);
  const norva::TransportFact &fact = sent[0];
  EXPECT_EQ(flagDigits(fact), "1 100 1111 0") << "host; playing; every capability but setting the tempo";
  EXPECT_EQ(fact.atFrame, 96000u);
  EXPECT_EQ(fact.tempo, 133.0);
  EXPECT_EQ(fact.numerator, 7);
  EXPECT_EQ(fact.denominator, 8);
  EXPECT_EQ(fact.loopEndPpq, 16.0);
  EXPECT_EQ(fact.sampleRate, 48000.0);

  EXPECT_TRUE(poll().empty()) << "nothing new";
  EXPECT_TRUE(poll(std::nullopt).empty()) << "no reset attribute";
  const std::vector<norva::TransportFact> again = poll(1);
  ASSERT_EQ(again.size(), 1u) << "reset sends the last one again";
  EXPECT_EQ(std::memcmp(&again[0], &fact, sizeof fact), 0);

  // Four seconds on: past two bars of 7/8 (3.5 quarter notes each), not three.
  const std::vector<norva::TransportFact> later = playAndPoll(4);
  ASSERT_GE(later.size(), 4u) << "a playing transport keeps moving";
  const norva::TransportFact &last = later.back();
  EXPECT_EQ(last.ppqPosition, double(last.projectTimeSamples) / 48000 * 133 / 60);
  EXPECT_GT(last.ppqPosition, 7.0);
  EXPECT_EQ(last.barPositionPpq, 7.0);
}

TEST_F(Transport, BlocksWithoutAContextSendNothingEvenOnReset) {
  for (int b = 0; b < 3 * kBlocksPerPoll; ++b) run();
  EXPECT_TRUE(poll(1).empty());
  for (int b = 0; b < 3 * kBlocksPerPoll; ++b) run();
  EXPECT_TRUE(poll(1).empty());
}

// A change of the host's play state reaches the controller within a fifth
// of a second; a stopped transport that stays as it is is sent once.
TEST_F(Transport, PlayStateChangesArriveAndAStillTransportOnlyOnce) {
  const struct {
    bool playing, recording, cycleActive;
    const char *flags; // playing, recording, looping
  } states[] = {{false, false, false, "000"}, {true, false, false, "100"}, {true, true, false, "110"},
                {true, false, true, "101"},   {false, false, true, "001"}};
  for (const auto &state : states) {
    transport_.playing = state.playing;
    transport_.recording = state.recording;
    transport_.cycleActive = state.cycleActive;
    const std::vector<norva::TransportFact> sent = playAndPoll(0.2);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(flagDigits(sent.back()).substr(2, 3), state.flags);
    if (!state.playing) {
      EXPECT_EQ(sent.size(), 1u);
    }
  }
  EXPECT_TRUE(playAndPoll(1).empty()) << "stopped and unchanged";
}

// Notes go out on the channel parameter; a note-off goes where its note-on
// went when the channel changes while the note sounds (0 to 3000).
TEST_F(Processor, NotesGoOutOnTheChannelTheirNoteStartedOn) {
  ParameterChanges tenth;
  tenth.add(kParamChannel, 0, 9.0 / 15.0); // channel 10 in a musician's counting
  std::vector<Event> events = run({}, &tenth);
  ParameterChanges fifth;
  fifth.add(kParamChannel, 0, 4.0 / 15.0);
  for (const Event &e : run({}, &fifth)) events.push_back(e);
  for (int block = 0; block < 10; ++block) // to the second step at 6000
    for (const Event &e : run()) events.push_back(e);
  std::string channels;
  for (const Event &e : events) {
    if (e.type == Event::kNoteOnEvent) channels += "on" + std::to_string(e.noteOn.channel) + " ";
    if (e.type == Event::kNoteOffEvent) channels += "off" + std::to_string(e.noteOff.channel) + " ";
  }
  EXPECT_EQ(channels, "on9 off9 on4 ");
}

// Number and value of a controller message cross the boundary in their places.
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

// The host re-activates the plug-in (a new block size) while a note sounds:
// its note-off comes first in the next block.
TEST_F(Processor, ANoteSoundingAtReactivationEndsInTheNextBlock) {
  ASSERT_EQ(run().size(), 2u); // the curve controller and the first step's note
  processor_->setActive(false);
  ProcessSetup setup{kRealtime, kSample32, 256, 48000.0};
  ASSERT_EQ(processor_->setupProcessing(setup), kResultOk);
  ASSERT_EQ(processor_->setActive(true), kResultOk);
  const std::vector<Event> events = run({}, nullptr, 256);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().type, Event::kNoteOffEvent);
  EXPECT_EQ(events.front().sampleOffset, 0);
  EXPECT_EQ(events.front().noteOff.pitch, 60);
}

// The controller's MIDI-controller assignments come from its CC map.
TEST(ControllerMidiMapping, AnswersFromTheFirstMatchingBinding) {
  HostApplication *host = new HostApplication();
  norva::NorvaController *controller = new norva::NorvaController();
  ASSERT_EQ(controller->initialize(host), kResultOk);

  ParamID id = 999;
  const std::string state =
      R"({"ccMap":{"version":1,"bindings":[)"
      R"({"cc":74,"channel":3,"path":"tindrel.bpm","enabled":false},)"
      R"({"cc":74,"channel":3,"path":"tindrel.shuffle"},)"
      R"({"cc":1,"path":"tindrel.gateScale"}]}})";
  MemoryStream stream(state);
  ASSERT_EQ(controller->setState(&stream), kResultOk);
  ASSERT_TRUE(controller->hasCcMap());

  EXPECT_EQ(controller->getMidiControllerAssignment(0, 2, 74, id), kResultTrue);
  EXPECT_EQ(id, 3u) << "the disabled binding is passed over";
  EXPECT_EQ(controller->getMidiControllerAssignment(0, 1, 74, id), kResultFalse) << "channel 3 only";
  for (int16 channel : {0, 15}) EXPECT_EQ(controller->getMidiControllerAssignment(0, channel, 1, id), kResultTrue);
  controller->terminate();
  controller->release();
  host->release();
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
  ASSERT_EQ(processor_->setState(&stream), kResultOk);
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

// Two notes of one pitch overlap across a Channel change: each note-off
// ends a note where it sounds.
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
  processor_->setActive(false);
  activate(16384);
  std::vector<Event> flood, release;
  for (int i = 0; i < 2040; ++i) {
    flood.push_back(makeNoteOn(0, int16(i % 128), 1.0f));
    release.push_back(makeNoteOff(0, int16(i % 128)));
  }
  for (int16 pitch = 0; pitch < 20; ++pitch) flood.push_back(makeNoteOff(1000, pitch));
  ParameterChanges start, stop;
  start.add(norva::kParamRun, 0, 1.0);
  stop.add(norva::kParamRun, 0, 0.0);
  run(flood, &start, 16384);
  run(release, &stop, 16384);
  run({}, nullptr, 16384);
  EXPECT_EQ(hanging(), Hanging{});
}

// A number that cannot be written back is refused when read, and the
// health report says so; the rest of the document is kept.
TEST_F(HostFaults, StateValuesThatCannotBeSavedAgainAreRefusedAndReported) {
  MemoryStream stream(std::string(R"({"params":{"tindrel.bpm":1e999,"tindrel.length":7}})"));
  ASSERT_EQ(processor_->setState(&stream), kResultOk);
  EXPECT_EQ(processor_->engine().paramValue(norva::kParamLength), 7.0);
  EXPECT_EQ(processor_->engine().paramValue(norva::kParamBpm), 120.0);
  const auto &ring = processor_->engine().diagnostics();
  ASSERT_EQ(ring.count, 1u);
  EXPECT_EQ(ring.records[0].code, uint32_t(norva::kDiagStateRestoreFailed));
  EXPECT_STREQ(ring.records[0].detail, "source=state; refused=1");
}

} // namespace
