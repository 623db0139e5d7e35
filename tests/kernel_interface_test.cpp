// The exported interface: handles, status codes and event queue checks. Output
// records field by field are kernel_notes_test's (passed-through messages,
// the output queue's order); fuzz_kernel_interface checks that reads
// past the output count and of unknown handles answer 0 and views are empty;
// `norva-probe validate` that a parameter change of a note's frame comes first.
#include "kernel_test_support.h"

#include <limits>
#include <tuple>

namespace kt {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint32_t kParam = NORVA_KERNEL_EVENT_PARAMETER;

class KernelInterface : public KernelTest {
protected:
  // An instance whose sequencer is stopped: only passed-through input shows.
  uint32_t idle() {
    const uint32_t h = make();
    EXPECT_EQ(pushParam(h, kParamRun, 0), 0);
    EXPECT_EQ(process(h, 128), 0);
    EXPECT_EQ(outCount(h), 0) << "a stop at frame 0 plays no step";
    return h;
  }
};

TEST_F(KernelInterface, HandlesEncodeSlotAndGeneration) {
  EXPECT_EQ(NORVA_FN(abi_version)(), 2);
  // Free slots answer to no handle, whatever small value it is.
  for (uint32_t h = 0; h <= 70; ++h) {
    EXPECT_EQ(process(h, 1), 1) << h;
    EXPECT_EQ(outCount(h), 0) << h;
  }
  EXPECT_EQ(create(), 1);
  EXPECT_EQ(destroy(1), 0);
  EXPECT_EQ(create(), 33) << "same slot, second generation";
  EXPECT_EQ(process(33, 16), 0);
  ASSERT_GT(outCount(33), 0);
  // The stale handle addresses nothing any more.
  EXPECT_EQ(destroy(1) + reset(1) + push(1, kOn, 0, 60, 1) + process(1, 16), 4);
  for (uint32_t h : {0u, 2u, 65u, 0xFFFFFFFFu}) EXPECT_EQ(process(h, 1), 1) << h;

  for (int i = 2; i <= 32; ++i) EXPECT_EQ(create(), i);
  EXPECT_EQ(create(), 0) << "the 33rd instance is refused";
  EXPECT_EQ(destroy(6), 0);
  EXPECT_EQ(create(), 6 + 32) << "the freed slot is taken again";
  init();
  EXPECT_EQ(process(33, 1), 1) << "initialising again discards every instance";
  EXPECT_EQ(create(), 1);
}

TEST_F(KernelInterface, CreateRefusesBadConfigurations) {
  const struct { double rate; uint32_t frames, in, out; } bad[] = {
      {0, 128, 0, 0},   {-48000, 128, 0, 0}, {kNaN, 128, 0, 0},  {kInf, 128, 0, 0},
      {48000, 0, 0, 0}, {48000, 129, 0, 0},  {48000, 128, 1, 0}, {48000, 128, 0, 2}};
  for (const auto &c : bad)
    EXPECT_EQ(create(c.rate, c.frames, c.in, c.out), 0) << c.rate << " " << c.frames;
  EXPECT_EQ(create(48000, 1), 1) << "a refused configuration takes no slot";
  // Finite as a double, but not finite and positive as the kernel's 32-bit rate.
  EXPECT_EQ(create(1e39), 0);
  EXPECT_EQ(create(1e-50), 0);
  EXPECT_GT(create(1e-30), 0);
}

TEST_F(KernelInterface, PushEventChecksInOrder) {
  const uint32_t h = make(48000, 64);
  const struct { uint32_t kind, frame, a; double value, status; } cases[] = {
      {kParam, 64, 0, 1, 1},    {9, 64, 0, 1, 1}, // the frame is checked before the kind
      {0, 0, 0, 0, 2},          {5, 0, 0, 0, 2},          {kParam, 0, 53, 1, 2},
      {kParam, 0, 53, kNaN, 2}, // the id is checked before the value
      {kParam, 0, 1, kNaN, 3},  {kParam, 0, 1, kInf, 3},  {kParam, 0, 1, -kInf, 3},
      {kOn, 0, 128, 1, 2},      {kOn, 0, 60, 1.5, 2},     {kOn, 0, 60, -0.1, 2},
      {kOn, 0, 60, 3.01, 2},    {kOn, 0, 60, kNaN, 2},    {kOff, 0, 60, 0.5, 2},
      {kOff, 0, 128, 0, 2},     {kCc, 0, 1, 1.0001, 2},   {kCc, 0, 128, 0.5, 2}};
  for (const auto &c : cases)
    EXPECT_EQ(push(h, c.kind, c.frame, c.a, c.value), c.status)
        << "kind " << c.kind << " frame " << c.frame << " a " << c.a << " value " << c.value;
  // Accepted forms; none of the refusals above took a place in the queue.
  for (auto [kind, a, value] : {std::tuple{kOn, 60u, 2.5}, {kOn, 127u, 0.0}, {kOn, 60u, 3.0},
                                {kOff, 60u, 0.0}, {kCc, 127u, 1.0}})
    EXPECT_EQ(push(h, kind, 0, a, value), 0);
  EXPECT_EQ(push(h, kParam, 63, kParamSeed, 1e6), 0);
  EXPECT_EQ(process(h, 64), 0);
  EXPECT_EQ(outCount(h), 5 + 2) << "five passed-through messages and the first step";
}

TEST_F(KernelInterface, QueueHoldsSixtyFourEventsInFrameOrderForOneCall) {
  const uint32_t h = idle();
  EXPECT_EQ(pushParam(h, kParamSeed, 1, 20), 0);
  EXPECT_EQ(pushParam(h, kParamSeed, 1, 10), 4);
  EXPECT_EQ(pushParam(h, kParamSeed, kNaN, 10), 3) << "the value is checked before the order";
  EXPECT_EQ(push(h, kOn, 20, 52, 1), 0) << "equal frames are accepted";
  for (int i = 2; i < 63; ++i) ASSERT_EQ(pushParam(h, kParamSeed, i, 30), 0) << i;
  EXPECT_EQ(push(h, kOn, 50, 60, 1), 0);
  EXPECT_EQ(pushParam(h, kParamSeed, 1, 90), 3) << "the 65th event";
  EXPECT_EQ(pushParam(h, kParamSeed, 1, 10), 3) << "a full queue is reported before the order";
  EXPECT_EQ(push(h, 7, 90, 0, 0), 2);
  EXPECT_EQ(process(h, 129), 1) << "more frames than the instance was created for";
  EXPECT_EQ(process(h, 50), 0);
  EXPECT_EQ(notesOf(read(h), kOn), (Seq{52})) << "the note at 50 lies beyond the call";
  EXPECT_EQ(process(h, 128), 0);
  EXPECT_EQ(outCount(h), 0) << "events beyond the call are dropped, not kept";
  EXPECT_EQ(push(h, kOn, 0, 60, 1), 0) << "the call emptied the queue";
  EXPECT_EQ(process(h, 0), 0);
  EXPECT_EQ(process(h, 128), 0);
  EXPECT_EQ(outCount(h), 0) << "a call of 0 frames drops every event";
}

TEST_F(KernelInterface, TempoTravelsAtThirtyTwoBitPrecision) {
  // At 47172 frames per second a quarter note lasts 23514 frames at exactly
  // 120.37 BPM but 23513 at 120.37000274658203, the 32-bit form of 120.37.
  const uint32_t h = make(47172);
  EXPECT_EQ(pushParam(h, kParamBpm, 120.37), 0);
  EXPECT_EQ(pushParam(h, kParamResolution, 1), 0);
  EXPECT_EQ(framesOf(run(h, 23600), kOn), (V{0, 23513}));
}

TEST_F(KernelInterface, ResetRestoresDefaultsAndEmptiesTheQueue) {
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamResolution, 1), 0);
  run(h, 1000);
  EXPECT_EQ(push(h, kOn, 0, 90, 1), 0);
  EXPECT_EQ(reset(h), 0);
  EXPECT_EQ(outCount(h), 0);
  position_ = 0;
  const auto outs = run(h, 6100);
  EXPECT_EQ(notesOf(outs, kOn), (Seq{60, 60})) << "the queued note is gone";
  EXPECT_EQ(framesOf(outs, kOn), (V{0, 6000})) << "default resolution, from frame 0 again";
}

} // namespace
} // namespace kt
