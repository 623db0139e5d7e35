// Incoming notes and controllers, generated velocities, the curve controller,
// and the pending and output queues.
#include "kernel_test_support.h"

#include <tuple>

namespace kt {
namespace {

using Notes = KernelTest;

TEST_F(Notes, VelocityOfPassedThroughMessages) {
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamRun, 0), 0);
  // {kind, value, kind out, level out}: a velocity rounding to 0 is a note-off.
  const double cases[][4] = {{kOn, 0.5, kOn, 64}, {kOn, 1, kOn, 127},   {kOn, 2.5, kOn, 127},
                             {kOn, 2, kOn, 127},  {kOn, 0.1, kOn, 13},  {kOn, 0.003, kOff, 0},
                             {kOn, 0, kOff, 0},   {kCc, 0.5, kCc, 64},  {kCc, 0, kCc, 0}};
  for (const auto &c : cases) {
    EXPECT_EQ(push(h, uint32_t(c[0]), 7, 66, c[1]), 0);
    EXPECT_EQ(process(h, 8), 0);
    const auto outs = read(h);
    ASSERT_EQ(outs.size(), 1u) << c[1];
    EXPECT_EQ((V{outs[0].frame, double(outs[0].kind), double(outs[0].a)}), (V{7, c[2], 66}));
    EXPECT_EQ(outs[0].b, float(c[3] / 127.0)) << c[1];
  }
}

TEST_F(Notes, VelocityScaleOfGeneratedNotes) {
  // The first step's velocity is 100; a scaled velocity never drops below 1.
  const double cases[][2] = {{0, 1}, {0.015, 2}, {0.25, 25}, {2, 127}};
  for (const auto &c : cases) {
    SetUp();
    const uint32_t h = make();
    EXPECT_EQ(pushParam(h, kParamVelocityScale, c[0]), 0);
    EXPECT_EQ(levelsOf(run(h, 1), kOn), (Seq{int(c[1])})) << c[0];
  }
}

TEST_F(Notes, KeyFollowTransposesThePatternAndSwallowsTheKey) {
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamKeyFollow, 1), 0);
  EXPECT_EQ(push(h, kOn, 0, 64, 1), 0);
  EXPECT_EQ(notesOf(run(h, 128), kOn), (Seq{64})) << "the step at the key's frame plays after it";
  EXPECT_EQ(push(h, kOff, 10, 64, 0), 0);
  EXPECT_EQ(push(h, kOn, 20, 70, 0), 0);
  auto outs = run(h, 6001 - 128);
  EXPECT_EQ(framesOf(outs, kOff), (V{3000})) << "only the generated note-off";
  EXPECT_EQ(notesOf(outs, kOn), (Seq{64})) << "the shift outlives the key; velocity 0 is no key";
  EXPECT_EQ(push(h, kOn, 0, 48, 0.5), 0);
  EXPECT_EQ(notesOf(run(h, 18000), kOn), (Seq{48, 48})); // steps at 12000 (a rest), 18000, 24000
  EXPECT_EQ(reset(h), 0);
  position_ = 0;
  EXPECT_EQ(notesOf(run(h, 1), kOn), (Seq{60})) << "reset ends the shift";
}

TEST_F(Notes, AllNotesOffEndsEverySoundingNote) {
  const uint32_t h = make();
  run(h, 1000);
  EXPECT_EQ(push(h, kCc, 0, 123, 0), 0);
  const auto outs = run(h, 6001 - 1000);
  // The note-off due at 3000 comes with the controller, which is passed on.
  EXPECT_EQ(framesOf(outs, kOff), (V{1000}));
  EXPECT_EQ(framesOf(outs, kCc), (V{1000}));
  EXPECT_EQ(framesOf(outs, kOn), (V{6000})) << "the sequencer carries on";
}

TEST(NotesFlush, ScheduledRatchetsAndTiesAreCut) {
  Rig rig;
  rig.state().stepRatchet[0] = 3;
  auto outs = rig.run(1500);
  EXPECT_TRUE(rig.event(kCc, 123, 1));
  for (const Out &o : rig.run(4600)) outs.push_back(o);
  EXPECT_EQ(framesOf(outs, kOn), (V{0, 6000})) << "the ratchets at 2000 and 4000 never sound";
  EXPECT_EQ(framesOf(outs, kOff), (V{1000, 1500, 1500}));
  // A flush also ends a tie: the next step of the same pitch is struck again.
  Rig tied;
  tied.state().stepTie[0] = 1;
  tied.run(1500);
  EXPECT_TRUE(tied.event(kCc, 123, 0));
  EXPECT_EQ(framesOf(tied.run(4600), kOn), (V{6000}));
}

TEST(CurveController, SentOnlyWhenItChanges) {
  const struct { double bipolar; Seq curve, sent; V frames; } cases[] = {
      {0, {5, 5, 9, 9}, {5, 9, 0}, {0, 12000, 24000}}, // the rest at 12000 sends it too
      {1, {70, 0, 127, 64, 100}, {76, 0, 127, 64, 127}, {0, 6000, 12000, 18000, 24000}}};
  for (const auto &c : cases) {
    Rig rig;
    EXPECT_TRUE(rig.set(kParamCurveCc, 74) && rig.set(kParamCurveBipolar, c.bipolar));
    for (size_t k = 0; k < c.curve.size(); ++k) rig.state().stepCurve[k] = c.curve[k];
    const auto outs = rig.run(24001);
    EXPECT_EQ(framesOf(outs, kCc), c.frames);
    EXPECT_EQ(levelsOf(outs, kCc), c.sent);
    EXPECT_EQ(notesOf(outs, kCc), Seq(c.sent.size(), 74));
  }
}

TEST_F(Notes, CurveControllerIsResentAfterAReset) {
  const uint32_t h = make();
  EXPECT_EQ(framesOf(run(h, 12001), kCc), (V{0}));
  EXPECT_EQ(pushParam(h, kParamRun, 0), 0);
  run(h, 1);
  EXPECT_EQ(pushParam(h, kParamRun, 1), 0);
  EXPECT_TRUE(framesOf(run(h, 128), kCc).empty()) << "a restart remembers the value sent";
  EXPECT_EQ(reset(h), 0);
  EXPECT_EQ(process(h, 1), 0);
  EXPECT_EQ(outKind(h, 0), kCc);
}

class Queues : public ::testing::Test {
protected:
  Rig rig;
  nk::KernelState &s = rig.state();
};

TEST_F(Queues, OutputIsSortedByFrameKeepingInsertionOrder) {
  for (int i = 0; i < 300; ++i) nk::appendOutput(s, i, 176, 1, 0);
  EXPECT_EQ(s.out.count, 256) << "a full output queue drops";
  EXPECT_EQ(rig.emit().size(), 256u);
  for (auto [frame, status, number, level] :
       {std::tuple{10, 144, 1, 100}, {10, 144, 2, 100}, {5, 144, 3, 100}, {10, 128, 4, 0},
        {0, 144 + 256, 200, 130}, // stored as 144, 72, 2
        {1, 0xE0, 5, 5}})         // no output kind: skipped
    nk::appendOutput(s, frame, status, number, level);
  const auto outs = rig.emit();
  ASSERT_EQ(outs.size(), 5u);
  EXPECT_EQ(notesOf(outs, kOn), (Seq{72, 3, 1, 2}));
  EXPECT_EQ(outs[0].level(), 2);
  EXPECT_EQ((V{double(outs[4].kind), outs[4].frame}), (V{kOff, 10}));
  // A frame before the current block is delivered at 0.
  s.baseFrame = 1000;
  nk::appendOutput(s, 900, 144, 60, 1);
  nk::appendOutput(s, 1042, 144, 61, 1);
  EXPECT_EQ(framesOf(rig.emit(), kOn), (V{0, 42}));
}

TEST_F(Queues, CancelOffMatchesStatusAndNote) {
  for (auto [frame, status, note] : {std::tuple{30, 144, 60}, {10, 145, 60}, {20, 144, 60},
                                     {20, 144, 200}}) // pending entries are stored unmasked
    nk::queueEvent(s, frame, status, note, 90);
  nk::cancelOff(s, 144, 60);
  ASSERT_EQ(s.pending.count, 2);
  EXPECT_EQ(s.pending.status[0], 145) << "another channel stays";
  EXPECT_EQ(s.pending.number[1], 200);
  for (int i = 0; i < 200; ++i) nk::queueEvent(s, 50, 128, 1, 0);
  EXPECT_EQ(s.pending.count, nk::kPendingCapacity) << "a full pending queue drops";
}

} // namespace
} // namespace kt
