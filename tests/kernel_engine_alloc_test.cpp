// The engine's audio-thread calls allocate nothing: the pushes and
// processBlock, on every path (delivery, values the kernel refuses, refused
// blocks, parameter flushes). setup may allocate and is kept outside the
// counted regions.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "alloc_counter.h"
#include "engine/kernel_engine.h"
#include "params/params.h"

namespace {

using alloc_counter::countDuring;
using norva::KernelEngine;

constexpr uint32_t kBpm = 1, kResolution = 2, kShuffle = 3, kTranspose = 6, kChainOn = 11,
                   kChainStart = 12, kFirstStepVelocity = 21;
constexpr int32_t kFrames = 16384;

// What the counted blocks produced, checked once counting is off.
struct Tally {
  long blocks = 0, midi = 0, refusedPushes = 0;

  void readMidi(const KernelEngine &e) {
    for (int32_t i = 0; i < e.midiCount(); ++i) midi += e.midi(i).status != 0;
  }
};

// One host block at its busiest: a parameter change every 256 frames, a note
// on/off pair every 32 frames, a burst the kernel cannot take in one call,
// controllers, and events outside the block.
void busyBlock(KernelEngine &e, uint32_t block, Tally &tally) {
  for (int32_t f = 0; f < kFrames; f += 256) {
    const uint32_t index = kFirstStepVelocity + uint32_t(f / 256) % 32;
    tally.refusedPushes += !e.pushParamNormalized(index, ((f / 256 + block) % 128) / 127.0, f);
  }
  tally.refusedPushes += !e.pushParamNormalized(kTranspose, (block % 49) / 48.0, 100);
  tally.refusedPushes += !e.pushParamNormalized(kShuffle, (block % 4) / 3.0, 3000);
  // Chain start above chain end: refused by the kernel while it runs.
  tally.refusedPushes += !e.pushParamNormalized(kChainStart, block % 2 == 0 ? 1.0 : 0.0, 5000);
  for (int32_t f = 0; f < kFrames; f += 32) {
    const int32_t note = 36 + (f / 32) % 48;
    tally.refusedPushes += !e.pushNoteOn(note, 0.25 + (f % 3) * 0.25, f, 0, 1);
    tally.refusedPushes += !e.pushNoteOff(note, f + 16, 0, 1);
  }
  for (int i = 0; i < 80; ++i) tally.refusedPushes += !e.pushNoteOn(100, 1.0, 8000, 0, 0);
  tally.refusedPushes += !e.pushController(7, block % 128, 64, 0, 0);
  tally.refusedPushes += !e.pushNoteOn(101, 1.0, -5, 0, 0);
  tally.refusedPushes += !e.pushNoteOn(102, 1.0, kFrames, 0, 0);
  e.processBlock(nullptr, 0, nullptr, 0, kFrames);
  tally.readMidi(e);
  ++tally.blocks;
}

TEST(KernelEngineAllocation, BusyBlocksAcrossSetupsAllocateNothing) {
  ASSERT_TRUE(alloc_counter::seesEveryRoute());
  auto engine = std::make_unique<KernelEngine>();
  Tally tally;
  long allocations = 0, releases = 0;
  for (double rate : {48000.0, 44100.0, 96000.0}) {
    ASSERT_TRUE(engine->setup(rate, kFrames));
    engine->setParamValue(kBpm, 300);
    engine->setParamValue(kResolution, 5);
    engine->setParamValue(kChainOn, 1);
    const auto counts = countDuring([&] {
      for (uint32_t block = 0; block < 6; ++block) {
        busyBlock(*engine, block, tally);
        // A parameter flush between blocks.
        engine->pushParamNormalized(kBpm, (block % 10) / 9.0, 0);
        engine->processBlock(nullptr, 0, nullptr, 0, 0);
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
  float left[kFrames] = {};
  float *outs[] = {left};
  Tally tally;
  testing::internal::CaptureStderr(); // the output-channel refusal prints once
  const auto counts = countDuring([&] {
    for (uint32_t block = 0; block < 4; ++block) {
      idle->pushNoteOn(60, 1.0, 0, 0, 0);
      idle->processBlock(nullptr, 0, outs, 1, 512);
      engine->pushNoteOn(60, 1.0, 0, 0, 0);
      engine->processBlock(nullptr, 0, nullptr, 0, 513); // longer than declared
      engine->pushNoteOn(60, 1.0, 0, 0, 0);
      engine->processBlock(nullptr, 0, outs, 1, 512); // audio requested
      for (int i = 0; i < 2100; ++i) tally.refusedPushes += !engine->pushController(1, 1, 0, 0, 0);
      engine->processBlock(nullptr, 0, nullptr, 0, 512);
      tally.readMidi(*engine);
    }
  });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.refusedPushes, 4 * 52);
}

} // namespace
