// When steps, ratchets and note-offs fall: step lengths, shuffle, gates, ties
// and the transport.
#include "kernel_test_support.h"

namespace kt {
namespace {

struct StepCase { double rate, bpm, resolution, stepLength, firstGate; };

class StepLength : public KernelTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(StepLength, DefaultPatternOnTheGrid) {
  const StepCase c = GetParam();
  const uint32_t h = make(c.rate);
  EXPECT_EQ(pushParam(h, kParamBpm, c.bpm), 0);
  EXPECT_EQ(pushParam(h, kParamResolution, c.resolution), 0);
  const double L = c.stepLength;
  const auto outs = run(h, 4 * L + 1);
  // Velocities 100, 60, 0, 60: the third step is a rest.
  EXPECT_EQ(framesOf(outs, kOn), (V{0, L, 3 * L, 4 * L}));
  EXPECT_EQ(framesOf(outs, kOff).at(0), c.firstGate);
}

INSTANTIATE_TEST_SUITE_P(
    Resolutions, StepLength,
    ::testing::Values(StepCase{48000, 120, 3, 6000, 3000}, StepCase{48000, 120, 10, 18000, 9000},
                      StepCase{44100, 120, 3, 5513, 2757}, StepCase{48000, 120, 0, 48000, 24000},
                      StepCase{48000, 120, 6, 16000, 8000}, StepCase{48000, 300, 3, 2400, 1200},
                      StepCase{48000, 20, 3, 36000, 18000}, StepCase{44100, 97, 7, 9093, 4547}));

using Timing = KernelTest;

TEST_F(Timing, ShuffleDelaysOddSteps) {
  // 0.9 and 0.2 are limited to 0.75 and 0.5.
  const struct { double shuffle; V ons; } cases[] = {
      {0.6, {0, 7200, 19200, 24000}}, {0.9, {0, 9000, 21000, 24000}}, {0.2, {0, 6000, 18000, 24000}}};
  for (const auto &c : cases) {
    SetUp();
    const uint32_t h = make();
    EXPECT_EQ(pushParam(h, kParamShuffle, c.shuffle), 0);
    const auto outs = run(h, 24001);
    EXPECT_EQ(framesOf(outs, kOn), c.ons) << c.shuffle;
    EXPECT_EQ(framesOf(outs, kOff).at(1), c.ons[1] + 3000) << "the gate counts from the swung step";
  }
}

TEST_F(Timing, TempoChangeTakesEffectFromTheNextStep) {
  const uint32_t h = make();
  run(h, 256);
  EXPECT_EQ(pushParam(h, kParamBpm, 240), 0);
  // Step 1 keeps the slot computed at 120 BPM; from there steps last 3000.
  EXPECT_EQ(framesOf(run(h, 12001 - 256), kOn), (V{6000, 12000}));
}

TEST_F(Timing, StopAndRestartReanchorsTheWalker) {
  const uint32_t h = make();
  run(h, 3000);
  EXPECT_EQ(pushParam(h, kParamRun, 1), 0);
  EXPECT_EQ(framesOf(run(h, 4000), kOn), (V{6000})) << "run while running is no restart";
  EXPECT_EQ(pushParam(h, kParamRun, 0), 0);
  auto outs = run(h, 8000);
  EXPECT_TRUE(framesOf(outs, kOn).empty()) << "a stopped sequencer plays nothing";
  EXPECT_EQ(framesOf(outs, kOff), (V{9000})) << "but a note-off already scheduled still ends";
  EXPECT_EQ(pushParam(h, kParamRun, 1, 5), 0);
  outs = run(h, 7000);
  // The first step falls on the first frame after the start, from step 0 again.
  EXPECT_EQ(framesOf(outs, kOn), (V{15005, 21005}));
  EXPECT_EQ(levelsOf(outs, kOn), (Seq{100, 60}));
}

// Authored lanes are set on a kernel state driven directly.
TEST(AuthoredTiming, RatchetsSplitTheStep) {
  const struct { double rate; int ratchets; V ons, offs; } cases[] = {
      {48000, 3, {0, 2000, 4000}, {1000, 3000, 5000}}, {48000, 0, {0}, {3000}},
      {48000, 9, {0, 750, 1500, 2250, 3000, 3750, 4500, 5250},
       {375, 1125, 1875, 2625, 3375, 4125, 4875, 5625}},
      {44100, 3, {0, 1837, 3675}, {919, 2756, 4594}}}; // 5513 frames: 1837, 1838, 1838
  for (const auto &c : cases) {
    Rig rig(c.rate);
    rig.state().stepRatchet[0] = c.ratchets;
    rig.state().stepVelocity[1] = 0;
    const auto outs = rig.run(6000);
    EXPECT_EQ(framesOf(outs, kOn), c.ons) << c.ratchets;
    EXPECT_EQ(framesOf(outs, kOff), c.offs) << c.ratchets;
  }
}

TEST(AuthoredTiming, GateLengths) {
  const struct { int gate; double gateScale, off; } cases[] = {
      {50, 1, 3000}, {5, 0.05, 15}, {200, 2, 24000}, {100, 0.5, 3000}, {37, 1, 2220}};
  for (const auto &c : cases) {
    Rig rig;
    EXPECT_TRUE(rig.set(kParamGateScale, c.gateScale));
    rig.state().stepGate[0] = c.gate;
    for (int step = 1; step < 4; ++step) rig.state().stepVelocity[step] = 0;
    EXPECT_EQ(framesOf(rig.run(24001), kOff), (V{c.off})) << c.gate << " " << c.gateScale;
  }
  // A gate never shrinks below one frame: 75-frame ratchets at 5% of 5%.
  Rig tiny;
  for (auto [id, value] : {std::pair{kParamBpm, 300.0}, {kParamResolution, 5.0}, {kParamGateScale, 0.05}})
    EXPECT_TRUE(tiny.set(id, value));
  tiny.state().stepGate[0] = 5;
  tiny.state().stepRatchet[0] = 8;
  EXPECT_EQ(framesOf(tiny.run(100), kOff), (V{1, 76}));
}

TEST(AuthoredTiming, TiedStepIntoTheNextStep) {
  const struct { const char *what; int note, velocity, ratchets, gate; V ons, offs; } cases[] = {
      // Legato: no second note-on; the note ends at step 1's own gate, not at 9000.
      {"same pitch", 60, 60, 1, 20, {0}, {7200}}, {"other pitch", 62, 60, 1, 50, {0, 6000}, {6000, 9000}},
      {"rest", 60, 0, 1, 50, {0}, {6000}},
      {"ratchets", 60, 60, 2, 50, {0, 6000, 9000}, {6000, 7500, 10500}}};
  for (const auto &c : cases) {
    Rig rig;
    auto &s = rig.state();
    s.stepTie[0] = 1;
    s.stepNote[1] = c.note;
    s.stepVelocity[1] = c.velocity;
    s.stepRatchet[1] = c.ratchets;
    s.stepGate[1] = c.gate;
    const auto outs = rig.run(12000);
    EXPECT_EQ(framesOf(outs, kOn), c.ons) << c.what;
    EXPECT_EQ(framesOf(outs, kOff), c.offs) << c.what;
    EXPECT_EQ(notesOf(outs, kOff).at(0), 60) << c.what;
  }
}

TEST(AuthoredTiming, TiedNotesEndAfterTheSwungNextStep) {
  for (int tiedSteps : {1, 2}) {
    Rig rig;
    EXPECT_TRUE(rig.set(kParamShuffle, 0.75));
    for (int step = 0; step < tiedSteps; ++step) rig.state().stepTie[step] = 1;
    auto outs = rig.run(tiedSteps == 1 ? 1000 : 10000);
    EXPECT_TRUE(rig.set(kParamRun, 0));
    for (const Out &o : rig.run(14000)) outs.push_back(o);
    // Step 0's tie lasts to step 1 (swung to 9000) plus its gate; step 1 (a
    // legato continuation, tied on) lasts to where step 2 would fall (12000).
    EXPECT_EQ(framesOf(outs, kOn), (V{0}));
    EXPECT_EQ(framesOf(outs, kOff), (V{tiedSteps == 1 ? 12000.0 : 15000.0}));
  }
}

TEST(AuthoredTiming, RestSteps) {
  Rig rig;
  EXPECT_TRUE(rig.set(kParamTranspose, 24));
  EXPECT_TRUE(rig.set(kParamOctave, 5));
  rig.state().stepNote[0] = 56; // 56 + 24 + 48 = 128: no such note
  rig.state().stepNote[1] = 55;
  const auto outs = rig.run(6001);
  EXPECT_EQ(notesOf(outs, kOn), (Seq{127}));
  EXPECT_EQ(framesOf(outs, kCc), (V{0})) << "the rest still sends the curve controller";

  Rig low;
  EXPECT_TRUE(low.set(kParamTranspose, -24));
  low.state().stepNote[0] = 23;
  low.state().stepNote[1] = 24;
  low.state().stepEnabled[3] = 0;
  EXPECT_EQ(notesOf(low.run(24001), kOn), (Seq{0, 36})) << "step 3 is switched off";
}

} // namespace
} // namespace kt
