// A NorvaProcessor in-process, driven with the probe's host objects as a host
// drives it: initialised, set up and active (block 0: left inactive), blocks
// run with their events and parameter points, and the notes it sends tallied.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "note_tally.h"
#include "processor/norva_processor.h"
#include "vst3_host.h"

namespace norva::test {

struct ProcessorRig {
  explicit ProcessorRig(int32_t frames = 512) {
    EXPECT_EQ(processor->initialize(host), Steinberg::kResultOk);
    if (frames > 0) configure(frames);
  }
  ~ProcessorRig() {
    processor->setActive(false);
    processor->terminate();
    processor->release();
    host->release();
  }
  ProcessorRig(const ProcessorRig &) = delete;
  ProcessorRig &operator=(const ProcessorRig &) = delete;

  void configure(int32_t frames, double rate = 48000.0) {
    using namespace Steinberg::Vst;
    processor->setActive(false);
    ProcessSetup setup{kRealtime, kSample32, frames, rate};
    EXPECT_EQ(processor->setupProcessing(setup), Steinberg::kResultOk);
    EXPECT_EQ(processor->setActive(true), Steinberg::kResultOk);
    block = frames;
  }

  // One block; returns what the processor sent out.
  std::vector<Steinberg::Vst::Event> run(const std::vector<Steinberg::Vst::Event> &in = {},
                                         Steinberg::Vst::IParameterChanges *changes = nullptr) {
    probe::EventList input, output;
    for (Steinberg::Vst::Event e : in) input.addEvent(e);
    Steinberg::Vst::ProcessData data;
    data.symbolicSampleSize = Steinberg::Vst::kSample32;
    data.numSamples = block;
    data.inputEvents = &input;
    data.inputParameterChanges = changes;
    data.outputEvents = &output;
    EXPECT_EQ(processor->process(data), Steinberg::kResultOk);
    tally.add(output.events());
    return output.events();
  }

  probe::HostApplication *host = new probe::HostApplication();
  NorvaProcessor *processor = new NorvaProcessor();
  int32_t block = 0;
  NoteTally tally;
};

} // namespace norva::test
