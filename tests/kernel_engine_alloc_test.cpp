// The engine's audio-thread calls allocate nothing: the pushes and
// processBlock, on every path (delivery, values the kernel refuses, refused
// blocks, parameter flushes). setup may allocate and is kept outside the
// counted regions.
//
// Every global operator new and delete is replaced; counting is switched on
// by a flag only around the engine calls, never around assertions.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>

#include "engine/kernel_engine.h"
#include "params/params.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gReleases{0};

void *allocate(size_t size, bool nothrow) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr && !nothrow) throw std::bad_alloc();
  return p;
}

void *allocateAligned(size_t size, std::align_val_t alignment, bool nothrow) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1, std::memory_order_relaxed);
  size_t a = static_cast<size_t>(alignment);
  if (a < sizeof(void *)) a = sizeof(void *);
  void *p = nullptr;
  if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0) p = nullptr;
  if (p == nullptr && !nothrow) throw std::bad_alloc();
  return p;
}

void release(void *p) {
  if (p != nullptr && gCounting.load(std::memory_order_relaxed))
    gReleases.fetch_add(1, std::memory_order_relaxed);
  std::free(p);
}

} // namespace

void *operator new(size_t n) { return allocate(n, false); }
void *operator new[](size_t n) { return allocate(n, false); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return allocate(n, true); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return allocate(n, true); }
void *operator new(size_t n, std::align_val_t a) { return allocateAligned(n, a, false); }
void *operator new[](size_t n, std::align_val_t a) { return allocateAligned(n, a, false); }
void *operator new(size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocateAligned(n, a, true);
}
void *operator new[](size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
  return allocateAligned(n, a, true);
}
void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, size_t) noexcept { release(p); }
void operator delete[](void *p, size_t) noexcept { release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete(void *p, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }

namespace {

using norva::KernelEngine;

constexpr uint32_t kBpm = 1, kResolution = 2, kShuffle = 3, kTranspose = 6, kChainOn = 11,
                   kChainStart = 12, kFirstStepVelocity = 21;
constexpr int32_t kFrames = 16384;

struct Counts {
  long allocations;
  long releases;
};

// Runs `work` with counting on. `work` must not allocate on its own account:
// no assertions, no containers, only engine calls and plain locals.
template <typename Work> Counts countDuring(Work &&work) {
  gAllocations.store(0);
  gReleases.store(0);
  gCounting.store(true);
  work();
  gCounting.store(false);
  return {gAllocations.load(), gReleases.load()};
}

void *volatile gEscape = nullptr;

// What the counted blocks produced, checked once counting is off.
struct Tally {
  long blocks = 0;
  long midi = 0;
  long refusedPushes = 0;
};

void readMidi(const KernelEngine &e, Tally &tally) {
  for (int32_t i = 0; i < e.midiCount(); ++i) tally.midi += e.midi(i).status != 0;
}

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
  readMidi(e, tally);
  ++tally.blocks;
}

TEST(KernelEngineAllocation, CountingSeesEveryOperatorNew) {
  struct alignas(64) Wide {
    char bytes[64];
  };
  const Counts counts = countDuring([] {
    int *one = new int(1);
    gEscape = one;
    delete one;
    int *many = new int[8];
    gEscape = many;
    delete[] many;
    Wide *wide = new Wide;
    gEscape = wide;
    delete wide;
    int *quiet = new (std::nothrow) int(2);
    gEscape = quiet;
    delete quiet;
  });
  EXPECT_EQ(counts.allocations, 4);
  EXPECT_EQ(counts.releases, 4);
}

TEST(KernelEngineAllocation, BusyBlocksAcrossSetupsAllocateNothing) {
  auto engine = std::make_unique<KernelEngine>();
  const double rates[] = {48000, 44100, 96000};
  Tally tally;
  long allocations = 0;
  long releases = 0;
  for (double rate : rates) {
    ASSERT_TRUE(engine->setup(rate, kFrames));
    engine->setParamValue(kBpm, 300);
    engine->setParamValue(kResolution, 5);
    engine->setParamValue(kChainOn, 1);
    const Counts counts = countDuring([&] {
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
  const Counts counts = countDuring([&] {
    for (uint32_t block = 0; block < 4; ++block) {
      idle->pushNoteOn(60, 1.0, 0, 0, 0);
      idle->processBlock(nullptr, 0, outs, 1, 512);
      engine->pushNoteOn(60, 1.0, 0, 0, 0);
      engine->processBlock(nullptr, 0, nullptr, 0, 513); // longer than declared
      engine->pushNoteOn(60, 1.0, 0, 0, 0);
      engine->processBlock(nullptr, 0, outs, 1, 512); // audio requested
      for (int i = 0; i < 2100; ++i) tally.refusedPushes += !engine->pushController(1, 1, 0, 0, 0);
      engine->processBlock(nullptr, 0, nullptr, 0, 512);
      readMidi(*engine, tally);
    }
  });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.refusedPushes, 4 * 52);
}

} // namespace
