// The authored pattern plane: factory content and its 7265-byte form.
// fuzz_authored_state restores and saves forms with every row in range,
// byte for byte.
#include "kernel_test_support.h"

namespace kt {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kNote = 1, kVelocity = 1025, kGate = 2049, kTie = 3073, kCurve = 4097,
              kRatchet = 5121, kEnabled = 6145, kLengthRow = 7169, kResolutionRow = 7201,
              kDirectionRow = 7233;

void expectFactoryLanes(const Bytes &b, bool defaultsApplied) {
  ASSERT_EQ(b.size(), 7265u);
  EXPECT_EQ(b[0], 1);
  const int factory[4] = {100, 64, 0, 64};
  const int parameters[4] = {100, 60, 0, 60};
  for (int i = 0; i < 1024; ++i) {
    const bool patternZero = i < 32;
    const int velocity = defaultsApplied && patternZero ? parameters[i % 4] : factory[i % 4];
    const Bytes lanes{b[kNote + i], b[kVelocity + i], b[kGate + i],   b[kTie + i],
                      b[kCurve + i], b[kRatchet + i],  b[kEnabled + i]};
    ASSERT_EQ(lanes, (Bytes{60, uint8_t(velocity), 50, 0, 0, 1, 1})) << i;
  }
  // The length parameter's default (16) lands on the selected pattern.
  for (int p = 0; p < 32; ++p)
    EXPECT_EQ((Bytes{b[kLengthRow + p], b[kResolutionRow + p], b[kDirectionRow + p]}),
              (Bytes{uint8_t(defaultsApplied && p == 0 ? 16 : 32), 0, 0})) << p;
}

TEST(AuthoredState, FactoryContentAfterPrepareAndAfterTheDefaults) {
  auto s = std::make_unique<nk::KernelState>();
  ASSERT_TRUE(nk::prepare(*s, nk::PrepareConfig{0, 64, 0, 44100}));
  Bytes b(7265);
  ASSERT_EQ(nk::saveState(*s, b.data(), 7265), 7265);
  expectFactoryLanes(b, false);
  expectFactoryLanes(Rig().save(), true);
}

TEST(AuthoredState, SaveNeedsRoomAndWritesNothingBeyond) {
  Rig rig;
  Bytes small(7264, 0xAA);
  EXPECT_EQ(nk::saveState(rig.state(), small.data(), 7264), -1);
  EXPECT_EQ(small, Bytes(7264, 0xAA));
  Bytes large(7300, 0xAA);
  EXPECT_EQ(nk::saveState(rig.state(), large.data(), 7300), 7265);
  EXPECT_EQ((Bytes{large[7264], large[7265], large[7299]}), (Bytes{0, 0xAA, 0xAA}));
}

class Restore : public ::testing::Test {
protected:
  Rig rig;
  nk::KernelState &s = rig.state();
  Bytes valid = rig.save();
  void SetUp() override {
    // Make the candidate differ from the state in every lane.
    for (int i = 0; i < 1024; ++i)
      for (auto [lane, value] : {std::pair{kNote, i % 128}, {kGate, 5 + i % 196}, {kTie, i % 2}, {kCurve, i * 7 % 128},
                                 {kRatchet, 1 + i % 8}, {kEnabled, i / 3 % 2}, {kVelocity, i * 13 % 128}})
        valid[lane + i] = uint8_t(value);
    for (int p = 0; p < 32; ++p)
      for (auto [row, value] : {std::pair{kLengthRow, 1 + p}, {kResolutionRow, p % 13}, {kDirectionRow, p % 7}})
        valid[row + p] = uint8_t(value);
  }
};

TEST_F(Restore, RefusalsLeaveTheStateUnchanged) {
  const struct { const char *what; int offset; uint8_t value; uint32_t length; } cases[] = {
      {"short", 0, 1, 7264},        {"long", 0, 1, 7266}, {"version 2", 0, 2, 7265},    {"version 0", 0, 0, 7265},
      {"length 0", kLengthRow + 17, 0, 7265},          {"length 33", kLengthRow + 31, 33, 7265},
      {"resolution 13", kResolutionRow + 5, 13, 7265}, {"direction 7", kDirectionRow + 0, 7, 7265},
      {"direction 255", kDirectionRow + 31, 255, 7265}};
  s.walkPosition = 30;
  s.cycleStep = 30;
  s.patternLengths[0] = 32;
  const Bytes before = rig.save();
  for (const auto &m : cases) {
    Bytes candidate = valid;
    candidate.resize(7266, 0);
    candidate[m.offset] = m.value;
    EXPECT_FALSE(nk::restoreState(s, candidate.data(), m.length)) << m.what;
    EXPECT_EQ(rig.save(), before) << m.what;
    EXPECT_EQ(V({s.walkPosition, s.cycleStep}), V({30, 30})) << m.what;
  }
  EXPECT_FALSE(nk::restoreState(s, nullptr, 7265));
}

TEST_F(Restore, LaneBytesAreReducedNeverRefused) {
  const struct { int lane; uint8_t in, out; } cases[] = {
      {kGate, 0, 5},   {kGate, 4, 5},    {kGate, 250, 200}, {kGate, 201, 200},     {kRatchet, 0, 1},
      {kRatchet, 20, 8}, {kNote, 200, 72}, {kTie, 7, 1},    {kVelocity, 255, 127}, {kCurve, 130, 2},
      {kEnabled, 9, 1}};
  for (const auto &c : cases) {
    valid[c.lane + 37] = c.in;
    ASSERT_TRUE(nk::restoreState(s, valid.data(), 7265)) << c.lane << " " << int(c.in);
    EXPECT_EQ(rig.save()[c.lane + 37], c.out) << c.lane << " " << int(c.in);
  }
  EXPECT_EQ(s.stepGate[37], 200);
  EXPECT_EQ(s.stepRatchet[37], 8);
}

TEST_F(Restore, WalkerIsPulledIntoTheRestoredLength) {
  s.walkPosition = 12;
  s.cycleStep = 20;
  valid[kLengthRow + 0] = 8;
  ASSERT_TRUE(nk::restoreState(s, valid.data(), 7265));
  EXPECT_EQ(V({s.walkPosition, s.cycleStep}), V({0, 0}));
  s.walkPosition = 7;
  ASSERT_TRUE(nk::restoreState(s, valid.data(), 7265));
  EXPECT_EQ(s.walkPosition, 7);
}

TEST_F(Restore, SettingsStayAndTheNextChangeRewritesTheSelectedVelocities) {
  const double bpm = s.bpmMicros;
  ASSERT_TRUE(nk::restoreState(s, valid.data(), 7265));
  EXPECT_EQ(s.bpmMicros, bpm);
  EXPECT_EQ(s.liveVelocities[0], 100);
  EXPECT_EQ(s.stepVelocity[1], valid[kVelocity + 1]);
  EXPECT_TRUE(rig.set(kParamSeed, 5));
  EXPECT_EQ(s.stepVelocity[1], 60) << "pattern 0 follows the step-velocity parameters again";
  EXPECT_EQ(s.stepVelocity[33], valid[kVelocity + 33]) << "pattern 1 keeps the restored lane";
}

TEST_F(Restore, RestoredPlanePlaysAndResetReseedsIt) {
  Bytes plane = rig.save();
  plane[kNote + 0] = 72;
  plane[kResolutionRow + 0] = 2; // quarter notes
  ASSERT_TRUE(nk::restoreState(s, plane.data(), 7265));
  const auto outs = rig.run(24001);
  EXPECT_EQ(notesOf(outs, kOn), (Seq{72, 60}));
  EXPECT_EQ(framesOf(outs, kOn), (V{0, 24000}));
  nk::reset(s);
  expectFactoryLanes(rig.save(), false);
}

} // namespace
} // namespace kt
