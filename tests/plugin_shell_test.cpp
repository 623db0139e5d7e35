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

// Notes go out on the channel parameter; a note-off goes where its note-on
// went when the channel changes while the note sounds (0 to 3000).
TEST_F(Processor, NotesGoOutOnTheChannelTheirNoteStartedOn) {
  ParameterChanges tenth;
  tenth.add(kParamChannel, 0, 9.0 / 15.0); // channel 10 in a musician's counting
  std::vector<Event> events = run(512, &tenth);
  ParameterChanges fifth;
  fifth.add(kParamChannel, 0, 4.0 / 15.0);
  for (const Event &e : run(512, &fifth)) events.push_back(e);
  for (int block = 0; block < 10; ++block) // to the second step at 6000
    for (const Event &e : run(512)) events.push_back(e);
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

} // namespace
