// A NorvaProcessor in-process, driven with the probe's host objects as a host
// drives it: initialised, connected to a sink that logs its messages, set up
// and active (block 0: left inactive), blocks run with their events,
// parameter points and transport, the notes it sends tallied, and the
// controller's transport poll.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "diagnostics/component_messages.h"
#include "diagnostics/host_facts.h"
#include "note_tally.h"
#include "processor/norva_processor.h"
#include "vst3_host.h"

namespace norva::test {

struct ProcessorRig {
  explicit ProcessorRig(int32_t frames = 512) {
    EXPECT_EQ(processor->initialize(host), Steinberg::kResultOk);
    EXPECT_EQ(processor->connect(sink), Steinberg::kResultOk);
    transport.requirements = processor->getProcessContextRequirements();
    if (frames > 0) configure(frames);
  }
  ~ProcessorRig() {
    processor->setActive(false);
    processor->terminate();
    processor->release();
    sink->release();
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
    transport.sampleRate = rate;
  }

  // One block, with the host's transport when `withTransport` (which then
  // moves on); returns what the processor sent out.
  std::vector<Steinberg::Vst::Event> run(const std::vector<Steinberg::Vst::Event> &in = {},
                                         Steinberg::Vst::IParameterChanges *changes = nullptr,
                                         bool withTransport = false) {
    Steinberg::Vst::ProcessContext context = transport.context();
    probe::EventList input, output;
    for (Steinberg::Vst::Event e : in) input.addEvent(e);
    Steinberg::Vst::ProcessData data;
    data.symbolicSampleSize = Steinberg::Vst::kSample32;
    data.numSamples = block;
    data.inputEvents = &input;
    data.inputParameterChanges = changes;
    data.outputEvents = &output;
    outputChanges.clear();
    data.outputParameterChanges = &outputChanges;
    if (withTransport) data.processContext = &context;
    EXPECT_EQ(processor->process(data), Steinberg::kResultOk);
    if (withTransport) transport.advance(block);
    tally.add(output.events());
    return output.events();
  }

  // The controller's transport poll; the records it brought back.
  std::vector<TransportFact> pollTransport(Steinberg::int64 reset = 0) {
    sink->log.clear();
    probe::HostMessage *message = new probe::HostMessage();
    message->setMessageID(kTransportPollMessage);
    message->getAttributes()->setInt(kTransportPollResetAttribute, reset);
    EXPECT_EQ(processor->notify(message), Steinberg::kResultOk);
    message->release();
    std::vector<TransportFact> sent(sink->log.size());
    for (size_t i = 0; i < sent.size(); ++i)
      EXPECT_TRUE(sink->log[i].id == kTransportFactMessage &&
                  transportFactFromBytes(sink->log[i].json.data(), sink->log[i].json.size(), sent[i]));
    return sent;
  }

  probe::HostApplication *host = new probe::HostApplication();
  probe::MessageSink *sink = new probe::MessageSink();
  NorvaProcessor *processor = new NorvaProcessor();
  probe::HostTransport transport; // with what the processor asks for
  int32_t block = 0;
  NoteTally tally;
  probe::ParameterChanges outputChanges; // what the last block reported
};

} // namespace norva::test
