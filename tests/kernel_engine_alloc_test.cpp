// The engine's audio-thread calls allocate nothing: the pushes and
// processBlock, on every path (delivery, values the kernel refuses, refused
// blocks, parameter flushes). setup may allocate and is kept outside the
// counted regions. Nor does the processor's process with the host's
// transport.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "alloc_counter.h"
#include "engine/kernel_engine.h"
#include "params/params.h"
#include "processor_rig.h"

namespace {

using alloc_counter::countDuring;
using norva::KernelEngine;
using namespace norva; // parameter ids

constexpr int32_t kFrames = 16384;

// What the counted blocks produced, checked once counting is off.
struct Tally {
  long blocks = 0, midi = 0, refusedPushes = 0;
};

// One host block at its busiest: a parameter change every 256 frames, a note
// on/off pair every 32 frames, a burst the kernel cannot take in one call,
// a note the kernel refuses, and events outside the block.
void busyBlock(KernelEngine &e, uint32_t block, Tally &tally) {
  for (int32_t f = 0; f < kFrames; f += 256) {
    const uint32_t index = kParamFirstStepVelocity + uint32_t(f / 256) % 32;
    tally.refusedPushes += !e.pushParamNormalized(index, ((f / 256 + block) % 128) / 127.0, f);
  }
  tally.refusedPushes += !e.pushParamNormalized(kParamTranspose, (block % 49) / 48.0, 100);
  tally.refusedPushes += !e.pushParamNormalized(kParamShuffle, (block % 4) / 3.0, 3000);
  // Chain start above chain end: refused by the kernel while it runs.
  tally.refusedPushes += !e.pushParamNormalized(kParamChainStart, block % 2 == 0 ? 1.0 : 0.0, 5000);
  for (int32_t f = 0; f < kFrames; f += 32) {
    const int32_t note = 36 + (f / 32) % 48;
    tally.refusedPushes += !e.pushNoteOn(note, 0.25 + (f % 3) * 0.25, f);
    tally.refusedPushes += !e.pushNoteOff(note, f + 16);
  }
  for (int i = 0; i < 80; ++i) tally.refusedPushes += !e.pushNoteOn(100, 1.0, 8000);
  tally.refusedPushes += !e.pushNoteOn(200, 1.0, 64); // refused by the kernel
  tally.refusedPushes += !e.pushNoteOn(101, 1.0, -5);
  tally.refusedPushes += !e.pushNoteOn(102, 1.0, kFrames);
  e.processBlock(kFrames);
  tally.midi += long(e.output().size());
  ++tally.blocks;
}

TEST(KernelEngineAllocation, BusyBlocksAcrossSetupsAllocateNothing) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  auto engine = std::make_unique<KernelEngine>();
  Tally tally;
  long allocations = 0, releases = 0;
  for (double rate : {48000.0, 44100.0, 96000.0}) {
    ASSERT_TRUE(engine->setup(rate, kFrames));
    engine->setParamValue(kParamBpm, 300);
    engine->setParamValue(kParamResolution, 5);
    engine->setParamValue(kParamChainOn, 1);
    const auto counts = countDuring([&] {
      for (uint32_t block = 0; block < 6; ++block) {
        busyBlock(*engine, block, tally);
        // A parameter flush between blocks.
        engine->pushParamNormalized(kParamBpm, (block % 10) / 9.0, 0);
        engine->processBlock(0);
      }
    });
    allocations += counts.allocations;
    releases += counts.releases;
    engine->drainRuntimeDiagnostics(); // main thread; may allocate
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(releases, 0);
  EXPECT_EQ(tally.blocks, 18);
  EXPECT_EQ(tally.refusedPushes, 0);
  EXPECT_GT(tally.midi, 18 * 1000) << "the blocks must have carried their notes through";
}

TEST(KernelEngineAllocation, RefusedBlocksAllocateNothing) {
  auto idle = std::make_unique<KernelEngine>(); // never set up
  auto engine = std::make_unique<KernelEngine>();
  ASSERT_TRUE(engine->setup(48000, 512));
  Tally tally;
  const auto counts = countDuring([&] {
    for (uint32_t block = 0; block < 4; ++block) {
      idle->pushNoteOn(60, 1.0, 0);
      idle->processBlock(512);
      engine->pushNoteOn(60, 1.0, 0);
      engine->processBlock(513); // longer than declared
      for (int i = 0; i < 2100; ++i) tally.refusedPushes += !engine->pushNoteOff(1, 0);
      engine->processBlock(512);
      tally.midi += long(engine->output().size());
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.refusedPushes, 4 * 52);
}

// Blocks with the host's transport (its tempo moving), each asked for a
// sample by a "reset" poll, which is not counted; what the polls send back
// shows the counted blocks took their samples.
TEST(ProcessorAllocation, BlocksWithTheHostsTransportAllocateNothing) {
  test::ProcessorRig rig;
  probe::EventList output(4096);
  Steinberg::Vst::ProcessData data;
  data.numSamples = rig.block;
  data.outputEvents = &output;
  long counted = 0, sent = 0;
  for (int b = 0; b < 100; ++b) {
    sent += long(rig.pollTransport(1).size());
    rig.transport.tempo = 100 + b;
    Steinberg::Vst::ProcessContext context = rig.transport.context();
    data.processContext = &context;
    const auto counts = countDuring([&] { rig.processor->process(data); });
    counted += counts.allocations + counts.releases;
  }
  EXPECT_EQ(counted, 0);
  EXPECT_EQ(sent, 99) << "each poll but the first sends the block before it";
}

} // namespace
