// The processor and controller in-process, driven with the probe's host
// objects: behaviour a host relies on beyond what the bundle validator sees.
#include <gtest/gtest.h>

#include <string>

#include "controller/norva_controller.h"
#include "processor/norva_processor.h"
#include "vst3_host.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using norva::probe::EventList;
using norva::probe::HostApplication;
using norva::probe::MemoryStream;
using norva::probe::ParameterChanges;
using norva::kParamBpm;
using norva::kParamChannel;
using norva::kParamCurveCc;


// One processor, set up and active at 48 kHz with 512-frame blocks.
class Processor : public ::testing::Test {
protected:
  void SetUp() override {
    host_ = new HostApplication();
    processor_ = new norva::NorvaProcessor();
    ASSERT_EQ(processor_->initialize(host_), kResultOk);
    ProcessSetup setup{kRealtime, kSample32, 512, 48000.0};
    ASSERT_EQ(processor_->setupProcessing(setup), kResultOk);
    ASSERT_EQ(processor_->setActive(true), kResultOk);
  }
  void TearDown() override {
    processor_->setActive(false);
    processor_->terminate();
    processor_->release();
    host_->release();
  }

  // Runs one block and returns what the processor sent out.
  std::vector<Event> run(int32 frames, ParameterChanges *changes = nullptr) {
    EventList out;
    ProcessData data;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.inputParameterChanges = changes;
    data.outputEvents = &out;
    EXPECT_EQ(processor_->process(data), kResultOk);
    return out.events();
  }

  HostApplication *host_ = nullptr;
  norva::NorvaProcessor *processor_ = nullptr;
};

TEST_F(Processor, NotesGoOutOnTheChannelParameter) {
  ParameterChanges changes;
  changes.add(kParamChannel, 0, 9.0 / 15.0); // channel 10 in a musician's counting
  const std::vector<Event> events = run(512, &changes);
  bool sawNote = false;
  for (const Event &e : events) {
    if (e.type != Event::kNoteOnEvent) continue;
    EXPECT_EQ(e.noteOn.channel, 9);
    sawNote = true;
  }
  EXPECT_TRUE(sawNote);
}

TEST_F(Processor, ANoteEndsOnTheChannelItStartedOnWhenTheChannelChanges) {
  // The first step sounds from frame 0 to 3000; the channel moves at 1024.
  std::vector<Event> events = run(512);
  ParameterChanges changes;
  changes.add(kParamChannel, 0, 4.0 / 15.0);
  for (const Event &e : run(512, &changes)) events.push_back(e);
  for (int block = 0; block < 6; ++block) {
    for (const Event &e : run(512)) events.push_back(e);
  }
  int offs = 0;
  for (const Event &e : events) {
    if (e.type == Event::kNoteOffEvent) {
      EXPECT_EQ(e.noteOff.channel, 0) << "the note-off follows its note-on";
      ++offs;
    }
  }
  EXPECT_EQ(offs, 1);
}

// Number and value of a controller message cross the boundary in their places.
TEST_F(Processor, TheCurveControllerGoesOutAsNumberAndValue) {
  ParameterChanges changes;
  changes.add(kParamCurveCc, 0, 74.0 / 119.0);
  const std::vector<Event> events = run(512, &changes);
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
  ASSERT_EQ(run(512).size(), 2u); // the curve controller and the first step's note
  processor_->setActive(false);
  ProcessSetup setup{kRealtime, kSample32, 256, 48000.0};
  ASSERT_EQ(processor_->setupProcessing(setup), kResultOk);
  ASSERT_EQ(processor_->setActive(true), kResultOk);
  const std::vector<Event> events = run(256);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front().type, Event::kNoteOffEvent);
  EXPECT_EQ(events.front().sampleOffset, 0);
  EXPECT_EQ(events.front().noteOff.pitch, 60);
}

TEST_F(Processor, StateArrivingInSmallPiecesIsReadWhole) {
  MemoryStream saved;
  ParameterChanges changes;
  changes.add(kParamBpm, 0, (150.0 - 20.0) / 280.0);
  run(512, &changes);
  ASSERT_EQ(processor_->getState(&saved), kResultOk);
  const std::string text = saved.text();
  ASSERT_NE(text.find("\"tindrel.bpm\":150"), std::string::npos);

  norva::NorvaProcessor *other = new norva::NorvaProcessor();
  ASSERT_EQ(other->initialize(host_), kResultOk);
  MemoryStream pieces(text, 7);
  EXPECT_EQ(other->setState(&pieces), kResultOk);
  EXPECT_EQ(other->engine().paramValue(kParamBpm), 150.0);
  other->terminate();
  other->release();
}

// The controller's MIDI-controller assignments come from its CC map.
TEST(ControllerMidiMapping, AnswersFromTheFirstMatchingBinding) {
  HostApplication *host = new HostApplication();
  norva::NorvaController *controller = new norva::NorvaController();
  ASSERT_EQ(controller->initialize(host), kResultOk);

  ParamID id = 999;
  EXPECT_EQ(controller->getMidiControllerAssignment(0, 0, 74, id), kResultFalse) << "no map yet";

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
  for (int16 channel = 0; channel < 16; ++channel) {
    EXPECT_EQ(controller->getMidiControllerAssignment(0, channel, 1, id), kResultTrue);
  }
  EXPECT_EQ(controller->getMidiControllerAssignment(1, 2, 74, id), kResultFalse) << "bus 1";
  EXPECT_EQ(controller->getMidiControllerAssignment(0, 2, 128, id), kResultFalse);

  FUnknown *unknown = controller->unknownCast();
  IMidiMapping *mapping = nullptr;
  ASSERT_EQ(unknown->queryInterface(IMidiMapping::iid, reinterpret_cast<void **>(&mapping)), kResultOk);
  mapping->release();

  controller->terminate();
  controller->release();
  host->release();
}

} // namespace
