// Which step plays next: walk directions, the seeded random modes, chaining
// and scale quantisation.
#include "kernel_test_support.h"

namespace kt {
namespace {

constexpr double kStep = 600; // 300 BPM, sixty-fourth notes, 48000 frames per second

class Walk : public KernelTest {
protected:
  // Step k of the selected pattern gets velocity 10 + k, so a note-on tells
  // which step played.
  uint32_t walker(int length, double direction, double seed = 0) {
    const uint32_t h = make();
    for (auto [id, value] : {std::pair{kParamBpm, 300.0}, {kParamResolution, 5.0}, {kParamLength, double(length)},
                             {kParamDirection, direction}, {kParamSeed, seed}})
      EXPECT_EQ(pushParam(h, id, value), 0);
    for (int k = 0; k < 32; ++k) EXPECT_EQ(pushParam(h, kParamFirstStepVelocity + k, 10 + k), 0);
    return h;
  }
  Seq positions(uint32_t h, int steps) {
    Seq r;
    for (int level : levelsOf(run(h, steps * kStep), kOn)) r.push_back(level - 10);
    return r;
  }
};

struct WalkCase { int length; double direction, seed; Seq expected; };

class Directions : public Walk, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(Directions, PlaysTheSteps) {
  const WalkCase c = GetParam();
  EXPECT_EQ(positions(walker(c.length, c.direction, c.seed), int(c.expected.size())), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Directions,
    ::testing::Values(WalkCase{4, 0, 0, {0, 1, 2, 3, 0, 1}}, WalkCase{4, 1, 0, {3, 2, 1, 0, 3, 2}},
                      WalkCase{4, 2, 0, {0, 1, 2, 3, 2, 1, 0, 1, 2}}, WalkCase{4, 3, 0, {0, 1, 2, 3, 3, 2, 1, 0, 0, 1}},
                      WalkCase{2, 2, 0, {0, 1, 0, 1, 0}}, WalkCase{2, 3, 0, {0, 1, 1, 0, 0, 1}},
                      WalkCase{16, 4, 0, {0, 14, 2, 8, 6, 0, 13, 2, 8}},
                      WalkCase{16, 5, 0, {0, 15, 0, 15, 14, 15, 0, 15}},
                      WalkCase{16, 4, 7, {0, 9, 3, 15, 9, 3, 12, 9, 5, 0}},
                      // A fractional seed acts as its integer part.
                      WalkCase{16, 4, 7.9, {0, 9, 3, 15, 9, 3, 12, 9, 5, 0}},
                      WalkCase{16, 5, 0.5, {0, 15, 0, 15, 14, 15, 0, 15}},
                      // A pattern of one step repeats it in every direction.
                      WalkCase{1, 1, 0, {0, 0, 0}}, WalkCase{1, 3, 0, {0, 0, 0}}, WalkCase{1, 5, 0, {0, 0, 0}}));

TEST_F(Walk, RandomChoicesRepeatAfterARestart) {
  const uint32_t h = walker(16, 4, 3);
  const Seq first = positions(h, 8);
  EXPECT_EQ(pushParam(h, kParamRun, 0), 0);
  run(h, 1);
  EXPECT_EQ(pushParam(h, kParamRun, 1), 0);
  EXPECT_EQ(positions(h, 8), first);
}

TEST_F(Walk, ChainCyclesThroughItsPatterns) {
  const uint32_t h = make();
  EXPECT_EQ(pushParam(h, kParamBpm, 300), 0);
  EXPECT_EQ(pushParam(h, kParamResolution, 5), 0);
  // Patterns 4, 3, 2 and 0 get length 4 and first-step velocities 40, 30, 20
  // and 66. Selecting a pattern copies the live velocities into it, so each is
  // set up after the one before.
  for (int p : {4, 3, 2, 0}) {
    EXPECT_EQ(pushParam(h, kParamPattern, p), 0);
    EXPECT_EQ(pushParam(h, kParamLength, 4), 0);
    EXPECT_EQ(pushParam(h, kParamFirstStepVelocity, p == 0 ? 66 : 10 * p), 0);
  }
  EXPECT_EQ(pushParam(h, kParamChainOn, 1), 0);
  EXPECT_EQ(pushParam(h, kParamChainStart, 2), 0);
  EXPECT_EQ(pushParam(h, kParamChainEnd, 4), 0);
  // Pattern 0 lies outside the chain: after its cycle the chain starts at 2.
  const Seq expected{66, 60, 60, 20, 60, 60, 30, 60, 60, 40, 60, 60, 20, 60, 60};
  EXPECT_EQ(levelsOf(run(h, 20 * kStep), kOn), expected);
}

// A chain whose patterns have resolutions of their own, with shuffle: each
// step lasts its own pattern's step, the first step of the next pattern
// follows the last of the one before at that one's step, and shuffle
// delays every odd step of the walk by its own pattern's share; by the
// own clock and on the host's grid.
TEST_F(Walk, AChainOfResolutionsTimesEachStepByItsPattern) {
  for (const bool grid : {false, true}) {
    const uint32_t h = make();
    if (grid) { // the host's grid from position 0 at the same tempo
      nk::ClockEvent clock;
      clock.kind = nk::ClockEvent::Kind::hostGrid;
      clock.tempo = 300;
      clock.align = true;
      EXPECT_EQ(nk::pushClock(h, 0, clock), 0);
    }
    for (auto [id, value] : {std::pair{kParamBpm, 300.0}, {kParamShuffle, 0.75}, {kParamChainOn, 1.0},
                             {kParamChainStart, 1.0}, {kParamChainEnd, 2.0}, {kParamPattern, 1.0}})
      EXPECT_EQ(pushParam(h, id, value), 0);
    nk::KernelState *s = nk::instanceState(h);
    ASSERT_NE(s, nullptr);
    // Velocity 100 + k at step k of both patterns (pattern 1 takes the live ones).
    for (int step = 0; step < 32; ++step) s->liveVelocities[step] = s->stepVelocity[64 + step] = 100 + step;
    s->patternLengths[1] = 3;
    s->patternResolutions[1] = 1 + 5; // sixty-fourths: 600 frames
    s->patternLengths[2] = 2;
    s->patternResolutions[2] = 1 + 3; // sixteenths: 2400 frames
    const Outs outs = run(h, 20000);
    // On the host's grid a pattern's step starts on a multiple of its own step.
    const V frames = grid ? V{0, 900, 1200, 3600, 4800, 7200, 8100, 8400, 9600, 13200, 14400, 15300, 15600, 18000, 19200}
                          : V{0, 900, 1200, 3000, 4200, 6900, 7200, 8100, 8400, 12000, 13200, 14100, 14400, 16200, 17400};
    EXPECT_EQ(framesOf(outs, kOn), frames) << (grid ? "host grid" : "own clock");
    EXPECT_EQ(levelsOf(outs, kOn), (Seq{100, 101, 102, 100, 101, 100, 101, 102, 100, 101, 100, 101, 102, 100, 101}));
  }
}

TEST(PatternDirection, OverridesTheGlobalDirection) {
  // Row 0 follows the global direction (backward here), 1..6 are directions 0..5.
  const struct { int row; Seq expected; } cases[] = {
      {0, {3, 2, 1, 0}}, {1, {0, 1, 2, 3}}, {2, {3, 2, 1, 0}}, {3, {0, 1, 2, 3}}, {7, {3, 2, 1, 0}}};
  for (const auto &c : cases) {
    Rig rig;
    EXPECT_TRUE(rig.set(kParamLength, 4));
    EXPECT_TRUE(rig.set(kParamDirection, 1));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(rig.set(kParamFirstStepVelocity + k, 10 + k));
    rig.state().patternDirections[0] = c.row;
    Seq played;
    for (int level : levelsOf(rig.run(4 * 6000), kOn)) played.push_back(level - 10);
    EXPECT_EQ(played, c.expected) << c.row;
  }
}

TEST(Hash, ReferenceValuesAndExactProducts) {
  EXPECT_EQ(nk::hashStep(0), 3780472676u);
  EXPECT_EQ(nk::hashStep(1), 649366339u);
  EXPECT_EQ(nk::hashStep(1.9), nk::hashStep(1));
  EXPECT_EQ(nk::hashStep(4294967297.0), nk::hashStep(1));
  EXPECT_EQ(nk::hashStep(-1), nk::hashStep(4294967295.0));
  const struct { double a, b; uint32_t expected; } cases[] = {
      {4294967295.0, 4294967295.0, 1u}, {2654435761.0, 2654435761.0, 4293315681u},
      {65536, 65536, 0u},               {65535, 65537, 4294967295u},
      {3.9, 5, 15u},                    {-1, 2, 4294967294u},
      {4294967299.0, 7, 21u}};
  for (const auto &c : cases) EXPECT_EQ(nk::multiplyU32(c.a, c.b), c.expected) << c.a << " " << c.b;
}

TEST(Scale, QuantisesDownToTheScale) {
  // {mask, key root, transpose, note played}; the pattern's notes are all 60.
  const double cases[][4] = {{4095, 0, 1, 61}, {2741, 0, 1, 60}, {2741, 0, 6, 65}, {2741, 2, 1, 61},
                             {2741, 0, 0, 60}, {1, 0, 11, 60},   {1, 0, -1, 48},   {1, 1, 0, 49},
                             {2048, 0, 0, 59}};
  for (const auto &c : cases) {
    Rig rig;
    EXPECT_TRUE(rig.set(kParamScaleMask, c[0]) && rig.set(kParamKeyRoot, c[1]) && rig.set(kParamTranspose, c[2]));
    EXPECT_EQ(notesOf(rig.run(1), kOn), (Seq{int(c[3])})) << c[0] << " " << c[1] << " " << c[2];
  }
  // With no allowed pitch at or below it down to 0, the step is a rest.
  Rig rig;
  EXPECT_TRUE(rig.set(kParamScaleMask, 1) && rig.set(kParamKeyRoot, 7));
  rig.state().stepNote[0] = 5;  // 5, 4 .. 0 are not G
  rig.state().stepNote[1] = 20; // down to 19
  EXPECT_EQ(notesOf(rig.run(6001), kOn), (Seq{19}));
}

} // namespace
} // namespace kt
