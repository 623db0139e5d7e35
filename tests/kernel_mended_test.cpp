// Faults the kernel is built to avoid: a rejected parameter event that would
// stall every later block, frame counters that would wrap in a long session,
// and values that do not fit the types they are stored in.
#include "kernel_test_support.h"

namespace kt {
namespace {

using Mended = KernelTest;

TEST_F(Mended, RejectedParameterEventIsDroppedAndTheBlockRuns) {
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamChainStart, 9), 0); // above the chain end (7)
  EXPECT_EQ(pushParam(h, kParamBpm, 240), 0);
  EXPECT_EQ(push(h, kOn, 10, 70, 1), 0);
  EXPECT_EQ(process(h, 128), 2);
  // The rest of the queue applied and the block ran: its output is readable.
  const auto first = read(h);
  EXPECT_EQ(notesOf(first, kOn), (Seq{60, 70}));
  EXPECT_EQ(framesOf(first, kOn), (V{0, 10}));

  // The queue was emptied: the next blocks run normally.
  EXPECT_EQ(process(h, 128), 0);
  EXPECT_EQ(outCount(h), 0);
  position_ = 256;
  const auto later = run(h, 3001 - 256);
  EXPECT_EQ(framesOf(later, kOn), (V{3000})) << "the tempo pushed after the rejection applied";
}

TEST_F(Mended, ParameterBeyondThirtyTwoBitRangeBecomesInfiniteAndIsRejected) {
  // 1e39 is finite as a double but rounds to infinity as a 32-bit float.
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamBpm, 1e39), 0);
  EXPECT_EQ(process(h, 128), 2);
  position_ = 128;
  EXPECT_EQ(framesOf(run(h, 6001 - 128), kOn), (V{6000})) << "the tempo stayed at 120";
}

class LongSession : public ::testing::TestWithParam<double> {};

TEST_P(LongSession, FramesDoNotWrap) {
  Rig rig;
  rig.state().baseFrame = GetParam();
  rig.state().stepTie[1] = 1;
  auto outs = rig.run(1500);
  EXPECT_TRUE(rig.event(kOn, 90, 1));
  for (const Out &o : rig.run(10500)) outs.push_back(o);
  EXPECT_EQ(framesOf(outs, kOn), (V{0, 1500, 6000}));
  EXPECT_EQ(notesOf(outs, kOn), (Seq{60, 90, 60}));
  // Step 1 is tied into the rest at 12000: the held note ends there.
  EXPECT_EQ(framesOf(outs, kOff), (V{3000}));
  EXPECT_EQ(framesOf(rig.run(1), kOff), (V{12000})) << "ended exactly at the rest";
}

INSTANTIATE_TEST_SUITE_P(Frames, LongSession,
                         ::testing::Values(2147483648.0 - 1000, 4294967296.0 - 1000, 1e12));

} // namespace
} // namespace kt
