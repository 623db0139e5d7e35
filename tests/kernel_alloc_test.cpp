// The kernel's realtime calls allocate nothing: push_event, process, the
// output accessors and the views run on the host's audio thread. `create`
// may allocate and is kept outside the counted regions.
#include "alloc_counter.h"
#include "kernel_test_support.h"

#include <utility>

namespace kt {
namespace {

constexpr uint32_t kParam = NORVA_KERNEL_EVENT_PARAMETER;

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
    const uint32_t count = uint32_t(outCount(handle));
    for (uint32_t i = 0; i < count; ++i) {
      const double frame = outFrame(handle, i), kind = outKind(handle, i);
      const double a = outA(handle, i), b = outB(handle, i);
      malformed += frame < 0 || frame >= frames || kind < 2 || kind > 4 || a < 0 || a > 127 || !(b >= 0 && b <= 1);
    }
    float *data = nullptr;
    uint32_t inLength = 1, outLength = 1;
    NORVA_FN(input_view)(handle, &data, &inLength);
    NORVA_FN(output_view)(handle, &data, &outLength);
    malformed += (outFrame(handle, count) != 0) + (inLength != 0) + (outLength != 0);
    outputs += count;
  }
};

class KernelAllocationTest : public KernelTest {
protected:
  void SetUp() override {
    ASSERT_TRUE(alloc_counter::seesEveryRoute());
    KernelTest::SetUp();
    gPanicked = false;
    NORVA_FN(set_panic_sink)(recordPanic, nullptr);
  }
  void TearDown() override {
    EXPECT_FALSE(gPanicked) << "the kernel reported an internal fault";
    KernelTest::TearDown();
  }
};

TEST_F(KernelAllocationTest, BusyPlaybackAndRefusedCallsAllocateNothing) {
  const uint32_t handle = make();
  const uint32_t stale = make();
  ASSERT_EQ(destroy(stale), 0);
  // Fast, swung, every step sounding, walking randomly through a chain of
  // patterns, with key follow consuming the incoming notes.
  const std::pair<uint32_t, double> busy[] = {{kParamBpm, 300},   {kParamResolution, 5}, {kParamShuffle, 0.75},
                                              {kParamDirection, 5}, {kParamSeed, 977},    {kParamChainEnd, 3},
                                              {kParamChainOn, 1},   {kParamKeyFollow, 1}};
  for (const auto &[id, value] : busy) ASSERT_EQ(push(handle, kParam, 0, id, value), 0);
  for (uint32_t k = 0; k < 32; ++k) ASSERT_EQ(push(handle, kParam, 0, kParamFirstStepVelocity + k, 110), 0);
  ASSERT_EQ(process(handle, 128), 0);

  Tally tally;
  const auto counts = alloc_counter::countDuring([&] {
    for (uint32_t cycle = 0; cycle < 1500; ++cycle) {
      const uint32_t frames = cycle % 129; // 0..128, including empty blocks
      const uint32_t last = frames == 0 ? 0 : frames - 1;
      // Fill the queue to its 64 events; every later push is refused.
      for (uint32_t i = 0; i < NORVA_KERNEL_MAX_EVENTS; ++i) {
        const uint32_t frame = last * i / NORVA_KERNEL_MAX_EVENTS;
        switch (i % 4) {
        case 0: tally.expect(push(handle, kOn, frame, 40 + i, 2.5), 0); break;
        case 1: tally.expect(push(handle, kOff, frame, 40 + i - 1, 0), 0); break;
        case 2: tally.expect(push(handle, kCc, frame, i == 2 ? 123 : 1, 0.5), 0); break;
        default: tally.expect(push(handle, kParam, frame, kParamFirstStepVelocity + i % 32, 90 + i % 30), 0);
        }
      }
      tally.expect(push(handle, kOn, last, 60, 1), 3); // queue full
      tally.expect(push(handle, kOn, 0, 128, 1), 2);   // no such note
      tally.expect(push(handle, kParam, 0, 53, 1), 2);     // no such parameter
      tally.expect(push(handle, kOn, 128, 60, 1), 1);  // frame out of range
      tally.expect(push(stale, kOn, 0, 60, 1), 1);     // destroyed instance
      tally.expect(process(handle, 129), 1);                     // too many frames
      tally.expect(process(stale, 128), 1);
      tally.expect(process(handle, frames), 0);
      tally.readEverything(handle, frames == 0 ? 1 : frames);
      // Out of frame order, then a parameter the kernel rejects (chain start
      // after chain end): the block still runs.
      tally.expect(push(handle, kOn, 20, 64, 1), 0);
      tally.expect(push(handle, kOn, 10, 64, 1), 4);
      tally.expect(push(handle, kParam, 30, kParamChainStart, 9), 0);
      const double status = process(handle, 128);
      tally.unexpectedStatus += status != 0 && status != 2;
      tally.readEverything(handle, 128);
    }
  });
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.releases, 0);
  EXPECT_EQ(tally.unexpectedStatus, 0) << "of " << tally.calls << " calls";
  EXPECT_EQ(tally.malformed, 0);
  EXPECT_GT(tally.outputs, 1500);
}

} // namespace
} // namespace kt
