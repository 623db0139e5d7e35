// The processor's process allocates nothing, the host's transport capture
// included: blocks with a ProcessContext whose tempo changes every block,
// each asked for a sample, with notes and parameter changes in and notes
// out. What the polls (main thread, not counted) send back shows that the
// counted blocks did capture.
#include <gtest/gtest.h>

#include <cstring>

#include "alloc_counter.h"
#include "diagnostics/host_facts.h"
#include "params/params.h"
#include "processor/norva_processor.h"
#include "vst3_host.h"

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using alloc_counter::countDuring;

constexpr int kBlocks = 200;
constexpr int32 kBlock = 512;

TEST(ProcessorAllocation, BlocksWithTheHostsTransportAllocateNothing) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  IPtr<norva::probe::HostApplication> host = owned(new norva::probe::HostApplication());
  IPtr<norva::probe::MessageSink> sink = owned(new norva::probe::MessageSink());
  norva::NorvaProcessor *processor = new norva::NorvaProcessor();
  ASSERT_EQ(processor->initialize(host), kResultOk);
  ASSERT_EQ(processor->connect(sink), kResultOk);
  ProcessSetup setup{kRealtime, kSample32, kBlock, 48000.0};
  ASSERT_EQ(processor->setupProcessing(setup), kResultOk);
  ASSERT_EQ(processor->setActive(true), kResultOk);

  static ProcessContext contexts[kBlocks];
  norva::probe::HostTransport transport;
  transport.requirements = processor->getProcessContextRequirements();
  for (int b = 0; b < kBlocks; ++b) {
    transport.tempo = 100 + b;
    contexts[b] = transport.context();
    transport.advance(kBlock);
  }
  norva::probe::ParameterChanges changes;
  changes.add(norva::kParamBpm, 0, 1.0);
  changes.add(norva::kParamResolution, 0, 1.0);
  norva::probe::EventList notes, output(4096);
  Event on = norva::probe::makeNoteOn(3, 64, 0.5f), off = norva::probe::makeNoteOff(300, 64);
  notes.addEvent(on);
  notes.addEvent(off);
  ProcessData data;
  data.symbolicSampleSize = kSample32;
  data.numSamples = kBlock;
  data.inputParameterChanges = &changes;
  data.inputEvents = &notes;
  data.outputEvents = &output;

  // A reset poll before each block asks for a sample at once, so every
  // block takes one (and pushes it: the tempo moved).
  auto poll = [&](int64 reset) {
    IPtr<norva::probe::HostMessage> message = owned(new norva::probe::HostMessage());
    message->setMessageID(norva::kTransportPollMessage);
    message->getAttributes()->setInt(norva::kTransportPollResetAttribute, reset);
    sink->log.clear();
    EXPECT_EQ(processor->notify(message), kResultOk);
  };
  long allocations = 0, releases = 0, failures = 0, sent = 0, played = 0;
  for (int b = 0; b < kBlocks; ++b) {
    poll(1);
    sent += long(sink->log.size());
    data.processContext = &contexts[b];
    output.clear();
    const auto counts = countDuring([&] { failures += processor->process(data) != kResultOk; });
    allocations += counts.allocations;
    releases += counts.releases;
    played += long(output.events().size());
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(releases, 0);
  EXPECT_EQ(failures, 0);
  EXPECT_GT(played, kBlocks) << "the blocks played";
  EXPECT_EQ(sent, kBlocks - 1) << "each poll sends the block before it";

  poll(0);
  ASSERT_EQ(sink->log.size(), 1u);
  norva::TransportFact fact;
  ASSERT_TRUE(norva::transportFactFromBytes(sink->log[0].json.data(), sink->log[0].json.size(), fact));
  EXPECT_EQ(fact.tempo, 100.0 + kBlocks - 1) << "the last block's";

  processor->setActive(false);
  processor->terminate();
  processor->release();
}

} // namespace
