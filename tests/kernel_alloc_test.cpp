// The kernel's realtime calls allocate nothing: push_event, process, the
// output accessors and the views run on the host's audio thread. `create`
// may allocate and is kept outside the counted regions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>

#include "alloc_counter.h"
#include "kernel/kernel_interface.h"
#include "kernel/runtime.h"
#include "params/params.h"

namespace {

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

using alloc_counter::countDuring;
using namespace norva; // parameter ids

constexpr uint32_t kParam = NORVA_KERNEL_EVENT_PARAMETER;
constexpr uint32_t kNoteOn = NORVA_KERNEL_EVENT_NOTE_ON;
constexpr uint32_t kNoteOff = NORVA_KERNEL_EVENT_NOTE_OFF;
constexpr uint32_t kControl = NORVA_KERNEL_EVENT_CONTROL_CHANGE;

bool gPanicked = false;
void recordPanic(void *, const char *, size_t, const void *) { gPanicked = true; }

// Tallies of one counted run, checked once counting is off.
struct Tally {
  long calls = 0, unexpectedStatus = 0, outputs = 0, malformed = 0;

  void expect(double status, double wanted) {
    ++calls;
    unexpectedStatus += status != wanted;
  }

  // Reads every output, one past the end (which answers 0), and the views,
  // which this MIDI-only kernel leaves empty.
  void readEverything(uint32_t handle, uint32_t frames) {
    const uint32_t count = uint32_t(K(event_output_count)(handle));
    for (uint32_t i = 0; i < count; ++i) {
      const double frame = K(event_output_frame)(handle, i), kind = K(event_output_kind)(handle, i);
      const double a = K(event_output_a)(handle, i), b = K(event_output_b)(handle, i);
      malformed += frame < 0 || frame >= frames || kind < 2 || kind > 4 || a < 0 || a > 127 || !(b >= 0 && b <= 1);
    }
    float *data = nullptr;
    uint32_t inLength = 1, outLength = 1;
    K(input_view)(handle, &data, &inLength);
    K(output_view)(handle, &data, &outLength);
    malformed += (K(event_output_frame)(handle, count) != 0) + (inLength != 0) + (outLength != 0);
    outputs += count;
  }
};

class KernelAllocationTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(alloc_counter::seesEveryRoute());
    norva::kernel::runtime::resetForTesting();
    gPanicked = false;
    K(set_panic_sink)(recordPanic, nullptr);
    K(runtime_init)();
  }
  void TearDown() override {
    EXPECT_FALSE(gPanicked) << "the kernel reported an internal fault";
    norva::kernel::runtime::resetForTesting();
  }
  uint32_t make() {
    const double handle = K(create)(48000, 128, 0, 0);
    EXPECT_GT(handle, 0);
    return uint32_t(handle);
  }
  void expectNothingAllocated(const alloc_counter::Counts &counts, const Tally &tally) {
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.releases, 0);
    EXPECT_EQ(tally.unexpectedStatus, 0) << "of " << tally.calls << " calls";
    EXPECT_EQ(tally.malformed, 0);
  }
};

TEST_F(KernelAllocationTest, BusyPlaybackAndRefusedCallsAllocateNothing) {
  const uint32_t handle = make();
  const uint32_t stale = make();
  ASSERT_EQ(K(destroy)(stale), 0);
  // Fast, swung, every step sounding, walking randomly through a chain of
  // patterns, with key follow consuming the incoming notes.
  const std::pair<uint32_t, double> busy[] = {{kParamBpm, 300},   {kParamResolution, 5}, {kParamShuffle, 0.75},
                                              {kParamDirection, 5}, {kParamSeed, 977},    {kParamChainEnd, 3},
                                              {kParamChainOn, 1},   {kParamKeyFollow, 1}};
  for (const auto &[id, value] : busy) ASSERT_EQ(K(push_event)(handle, kParam, 0, id, value), 0);
  for (uint32_t k = 0; k < 32; ++k) ASSERT_EQ(K(push_event)(handle, kParam, 0, kParamFirstStepVelocity + k, 110), 0);
  ASSERT_EQ(K(process)(handle, 128), 0);

  Tally tally;
  const auto counts = countDuring([&] {
    for (uint32_t cycle = 0; cycle < 1500; ++cycle) {
      const uint32_t frames = cycle % 129; // 0..128, including empty blocks
      const uint32_t last = frames == 0 ? 0 : frames - 1;
      // Fill the queue to its 64 events; every later push is refused.
      for (uint32_t i = 0; i < NORVA_KERNEL_MAX_EVENTS; ++i) {
        const uint32_t frame = last * i / NORVA_KERNEL_MAX_EVENTS;
        switch (i % 4) {
        case 0: tally.expect(K(push_event)(handle, kNoteOn, frame, 40 + i, 2.5), 0); break;
        case 1: tally.expect(K(push_event)(handle, kNoteOff, frame, 40 + i - 1, 0), 0); break;
        case 2: tally.expect(K(push_event)(handle, kControl, frame, i == 2 ? 123 : 1, 0.5), 0); break;
        default: tally.expect(K(push_event)(handle, kParam, frame, kParamFirstStepVelocity + i % 32, 90 + i % 30), 0);
        }
      }
      tally.expect(K(push_event)(handle, kNoteOn, last, 60, 1), 3); // queue full
      tally.expect(K(push_event)(handle, kNoteOn, 0, 128, 1), 2);   // no such note
      tally.expect(K(push_event)(handle, kParam, 0, 53, 1), 2);     // no such parameter
      tally.expect(K(push_event)(handle, kNoteOn, 128, 60, 1), 1);  // frame out of range
      tally.expect(K(push_event)(stale, kNoteOn, 0, 60, 1), 1);     // destroyed instance
      tally.expect(K(process)(handle, 129), 1);                     // too many frames
      tally.expect(K(process)(stale, 128), 1);
      tally.expect(K(process)(handle, frames), 0);
      tally.readEverything(handle, frames == 0 ? 1 : frames);
      // Out of frame order, then a parameter the kernel rejects (chain start
      // after chain end): the block still runs.
      tally.expect(K(push_event)(handle, kNoteOn, 20, 64, 1), 0);
      tally.expect(K(push_event)(handle, kNoteOn, 10, 64, 1), 4);
      tally.expect(K(push_event)(handle, kParam, 30, kParamChainStart, 9), 0);
      const double status = K(process)(handle, 128);
      tally.unexpectedStatus += status != 0 && status != 2;
      tally.readEverything(handle, 128);
    }
  });
  expectNothingAllocated(counts, tally);
  EXPECT_GT(tally.outputs, 1500);
}

} // namespace
