// The parameter catalogue, its conversion rules and texts, and how a
// parameter change lands in a kernel state. fuzz_param_text checks that texts
// fit their buffers, read back, and that a failed parse leaves the value
// alone; `norva-probe validate` checks the texts, step counts and units as a
// host sees them.
#include "kernel_test_support.h"

#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace kt {
namespace {

using norva::norva_param_desc;
using norva::NORVA_PARAMS;

const norva_param_desc &row(const char *key) {
  const norva_param_desc *r = norva::findParamByKey(key);
  EXPECT_NE(r, nullptr) << key;
  return *r;
}

std::string text(const norva_param_desc &r, double normalized) {
  char buffer[129];
  const size_t n = norva::paramToText(r, normalized, buffer, sizeof buffer);
  EXPECT_EQ(n, std::strlen(buffer));
  return buffer;
}

// Rows sit at their ids and are found by their keys; the names themselves
// are pinned where they are written (state documents, the probe's --set).
TEST(ParamCatalogue, RowsInIdOrder) {
  for (uint32_t id = 0; id < norva::kParamCount; ++id) {
    const norva_param_desc &r = NORVA_PARAMS[id];
    EXPECT_EQ(r.id, id);
    EXPECT_EQ(norva::findParamByKey(r.key), &r) << r.key;
    // Bit-exact, not approximately equal.
    EXPECT_EQ(r.defaultNormalized, (r.defaultPlain - r.min) / (r.max - r.min)) << r.key;
  }
  EXPECT_EQ(std::string(NORVA_PARAMS[kParamFirstStepVelocity + 31].key), "tindrel.g32");
  EXPECT_EQ(norva::findParamByKey("tindrel.g33"), nullptr);
  EXPECT_EQ(norva::findParamByKey("tindrel.BPM"), nullptr);
}

TEST(ParamConversion, BothWaysAndText) {
  const norva_param_desc &bpm = row("tindrel.bpm"), &transpose = row("tindrel.transpose");
  const struct { const norva_param_desc &r; double normalized, plain; const char *text; } cases[] = {
      {transpose, 0.5, 0, "0"},      {transpose, 0.51, 0, "0"},      {transpose, 0.52, 1, "+1"},
      {transpose, 0.4375, -3, "-3"}, {transpose, -0.2, -24, "-24"},  {transpose, 1.7, 24, "+24"},
      {bpm, 0.5, 160, "160"} /* unstepped rows do not snap */,       {bpm, bpm.defaultNormalized, 120, "120"},
      {row("tindrel.resolution"), 1.0, 11, "1/16 ."}, {row("tindrel.shuffle"), 0, 0.5, "50"},
      {row("tindrel.velocityScale"), 0.3125, 0.625, "62.5"}};
  for (const auto &c : cases) {
    EXPECT_EQ(norva::paramToPlain(c.r, c.normalized), c.plain) << c.r.key << " " << c.normalized;
    EXPECT_EQ(text(c.r, c.normalized), c.text) << c.r.key << " " << c.normalized;
  }
  norva_param_desc odd = bpm;
  odd.min = 0.5;
  odd.step = 1;
  EXPECT_EQ(norva::paramToPlain(odd, 0), 1) << "snapping counts from zero, not from min";

  const norva_param_desc &g1 = row("tindrel.g1");
  for (auto [r, plain, normalized] : {std::tuple{&bpm, 10.0, 0.0}, {&bpm, 160.0, 0.5}, {&bpm, 400.0, 1.0},
                                      {&g1, 63.5, 63.5 / 127}})
    EXPECT_EQ(norva::norva_param_normalize(r, plain), normalized) << r->key << " " << plain;
  norva_param_desc flat = bpm;
  flat.min = flat.max = 5;
  EXPECT_EQ(norva::norva_param_normalize(&flat, 9), 0);
  double n = 0.25;
  EXPECT_FALSE(norva::paramFromText(bpm, "", &n));
}

double plainOf(const norva_param_desc &r, const char *text, int keyRoot = 0) {
  double n = -1;
  if (!norva::paramFromText(r, text, &n, keyRoot)) return -1;
  return norva::paramToPlain(r, n);
}

// What a host shows for a plain value, and reads back from that text.
TEST(ParamText, NamedCountedSignedAndContinuousValues) {
  const struct { const char *key; double plain; const char *text; } cases[] = {
      {"run", 1, "On"}, {"run", 0, "Off"}, {"bypass", 1, "On"}, {"followHost", 0, "Off"},
      {"resolution", 0, "1/2"}, {"resolution", 3, "1/16"}, {"resolution", 6, "1/4 T"}, {"resolution", 10, "1/8 ."},
      {"direction", 3, "Ping-pong, ends twice"}, {"direction", 5, "Random walk"},
      {"keyRoot", 1, "C#"}, {"keyRoot", 3, "Eb"}, {"keyRoot", 11, "B"},
      {"channel", 0, "1"}, {"channel", 15, "16"}, {"pattern", 31, "32"}, {"chainEnd", 7, "8"},
      {"transpose", 3, "+3"}, {"transpose", -2, "-2"}, {"octave", 1, "0"}, {"octave", 3, "+2"},
      {"curveCc", 1, "CC 1"}, {"length", 16, "16"}, {"seed", 65535, "65535"}, {"g3", 0, "0"},
      {"scaleMask", 4095, "Chromatic"}, {"scaleMask", 2741, "Major"}, {"scaleMask", 1709, "Dorian"},
      {"scaleMask", 597, "C D E F# A"}, {"scaleMask", 1, "C"},
      {"bpm", 136.2, "136.2"}, {"bpm", 99.999, "100"}, {"shuffle", 0.625, "62.5"}, {"gateScale", 0.05, "5"},
      {"velocityScale", 1.25, "125"}};
  for (const auto &c : cases) {
    const norva_param_desc &r = row((std::string("tindrel.") + c.key).c_str());
    EXPECT_EQ(text(r, norva::norva_param_normalize(&r, c.plain)), c.text) << c.key << " " << c.plain;
    EXPECT_NEAR(plainOf(r, c.text), c.plain, 0.005) << c.key << " " << c.text;
  }
}

// Other spellings, plain numbers in the units shown, and texts that do not read.
TEST(ParamText, WhatAHostMayType) {
  const struct { const char *key; const char *text; double plain; } cases[] = {
      {"resolution", "3", 3}, {"resolution", "1/8t", 7}, {"resolution", " 1/16 . ", 11}, {"direction", "ping pong", 2},
      {"direction", "4", 4}, {"keyRoot", "Db", 1}, {"keyRoot", "f#", 6}, {"keyRoot", "Cb", 11}, {"keyRoot", "9", 9},
      {"channel", "16", 15}, {"run", "off", 0}, {"run", "true", 1}, {"run", "1", 1}, {"bpm", "140 BPM", 140},
      {"shuffle", "62.5 %", 0.625}, {"transpose", "+5 st", 5}, {"octave", "+4", 5}, {"curveCc", "cc7", 7},
      {"curveCc", "64", 64}, {"scaleMask", "major", 2741}, {"scaleMask", "4095", 4095}, {"scaleMask", "C, E G", 145},
      {"g1", "64.5xyz", 65} /* read as 64.5, played snapped */,
      // No reading: the value stays.
      {"resolution", "1/3", -1}, {"direction", "Sideways", -1}, {"keyRoot", "H", -1}, {"keyRoot", "C D", -1},
      {"scaleMask", "C H", -1}, {"bpm", "abc", -1}, {"curveCc", "CC", -1}, {"run", "", -1}};
  for (const auto &c : cases) {
    const norva_param_desc &r = row((std::string("tindrel.") + c.key).c_str());
    EXPECT_NEAR(plainOf(r, c.text), c.plain, 1e-9) << c.key << " '" << c.text << "'";
  }
}

// The scale's notes are named from the key root; a named scale is the same
// in every key.
TEST(ParamText, ScaleNotesFromTheKeyRoot) {
  const norva_param_desc &mask = row("tindrel.scaleMask");
  const struct { double plain; int keyRoot; const char *text; } cases[] = {
      {597, 2, "D E F# Ab B"}, {597, 11, "B C# Eb F Ab"}, {2741, 5, "Major"}, {3, 12 + 4, "E F"}, {3, -1, "B C"}};
  for (const auto &c : cases) {
    char buffer[64];
    norva::paramToText(mask, norva::norva_param_normalize(&mask, c.plain), buffer, sizeof buffer, c.keyRoot);
    EXPECT_STREQ(buffer, c.text) << c.plain << " in " << c.keyRoot;
    EXPECT_EQ(plainOf(mask, c.text, c.keyRoot), c.plain) << c.text << " in " << c.keyRoot;
  }
}

// Every value of every row reads back from its text, and the text of that
// again is the same: every step of a stepped row, and continuous values as
// a host holds them, through 32 bits.
TEST(ParamText, EveryValueReadsBackFromItsText) {
  for (const norva_param_desc &r : NORVA_PARAMS) {
    std::vector<double> normalized;
    if (r.step != 0) {
      for (double plain = r.min; plain <= r.max; plain += r.step) normalized.push_back(norva::norva_param_normalize(&r, plain));
    } else {
      for (int i = 0; i <= 1000; ++i) normalized.push_back(double(float(i / 1000.0 + 1e-4 * (i % 7))));
    }
    // Half the last digit shown, two decimals of the units shown.
    const double resolution = (r.text == norva::kTextPercent ? 0.00005 : 0.005) * (1 + 1e-9);
    for (double n : normalized) {
      const std::string shown = text(r, n);
      const double back = plainOf(r, shown.c_str());
      const double plain = norva::paramToPlain(r, n);
      ASSERT_NEAR(back, plain, r.step != 0 ? 0 : resolution) << r.key << " " << n << " '" << shown << "'";
      ASSERT_EQ(text(r, norva::norva_param_normalize(&r, back)), shown) << r.key << " " << n;
      const size_t point = shown.find('.');
      if (r.step == 0 && point != std::string::npos) {
        ASSERT_LE(shown.size() - point, 3u) << r.key << " '" << shown << "'";
      }
    }
  }
}

TEST(ParamText, StepCountsAndGroups) {
  const struct { const char *key; int32_t steps; bool list; int32_t unit; } cases[] = {
      {"run", 1, false, 1}, {"bpm", 0, false, 1}, {"resolution", 11, true, 1}, {"transpose", 48, false, 2},
      {"keyRoot", 11, true, 5}, {"scaleMask", 4094, false, 5}, {"seed", 0 /* 65535 steps */, false, 6},
      {"g32", 127, false, 7}, {"bypass", 1, false, 6}};
  for (const auto &c : cases) {
    const norva_param_desc &r = row((std::string("tindrel.") + c.key).c_str());
    EXPECT_EQ(norva::paramStepCount(r), c.steps) << c.key;
    EXPECT_EQ(norva::paramIsList(r), c.list) << c.key;
    EXPECT_EQ(norva::paramUnitId(r), c.unit) << c.key;
  }
  norva_param_desc odd = row("tindrel.bpm");
  odd.step = 1;
  odd.min = 0.5;
  EXPECT_EQ(norva::paramStepCount(odd), 0) << "steps that do not start at min";
}

// setParameter and applyParameter on a prepared state with the defaults.
class SetParameter : public ::testing::Test {
protected:
  Rig rig;
  nk::KernelState &s = rig.state();
  bool set(const char *key, double value) { return nk::setParameter(s, key, value); }
};

TEST_F(SetParameter, ScaledAndClampedSettings) {
  using K = nk::KernelState;
  const struct { const char *key; double value; double K::*field; double expected; } cases[] = {
      {"bpm", 10, &K::bpmMicros, 20000000}, {"bpm", 1000, &K::bpmMicros, 300000000},
      {"bpm", 120.0000004, &K::bpmMicros, 120000000}, {"shuffle", 0.3, &K::shuffleMicros, 500000},
      {"shuffle", 0.9, &K::shuffleMicros, 750000}, {"gateScale", 0, &K::gateScaleMicros, 50000},
      {"velocityScale", 2.5, &K::velocityScaleMicros, 2000000}, {"transpose", -3.5, &K::transposeShifted, 61},
      {"transpose", -99, &K::transposeShifted, 40}, {"octave", 0, &K::octave, 1}, {"octave", 9, &K::octave, 5},
      {"resolution", 2.7, &K::resolution, 2}, {"direction", 9, &K::direction, 5}, {"channel", 20, &K::channel, 15},
      {"curveCc", 118.7, &K::curveCc, 118}, {"scaleMask", 2741.9, &K::scaleMask, 2741},
      {"curveBipolar", 0.5, &K::curveBipolar, 1}, {"keyFollow", 0.49, &K::keyFollow, 0}};
  for (const auto &c : cases) {
    EXPECT_TRUE(set((std::string("tindrel.") + c.key).c_str(), c.value)) << c.key << " " << c.value;
    EXPECT_EQ(s.*c.field, c.expected) << c.key << " " << c.value;
  }
}

TEST_F(SetParameter, RejectionsLeaveTheStateAlone) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct { const char *key; double value; } cases[] = {
      {"curveCc", 119.5}, {"keyRoot", 12}, {"scaleMask", 0.5}, {"scaleMask", 4096}, {"pattern", 32},
      {"length", 40}, {"length", 0.5}, {"g5", 127.5}, {"chainEnd", 32}, {"bpm", kNaN}, {"seed", kInf},
      {"run", -kInf}, {"tempo", 120}, {"G1", 1}, {"g33", 1}, {"g01", 1}, {"g0", 1}, {"", 0},
      // Below the catalogue minimum.
      {"resolution", -1}, {"direction", -0.5}, {"channel", -1}, {"keyRoot", -0.1}, {"chainStart", -1}, {"g1", -1},
      // The chain bounds (9..10 here) keep their order.
      {"chainStart", 11}, {"chainStart", 10.5}, {"chainEnd", 8.9}};
  const auto settings = [this] {
    return V{s.resolution, s.direction,  s.channel,  s.curveCc, s.keyRoot, s.scaleMask,
             s.chainStart, s.chainEnd,   s.selectedPattern, s.bpmMicros, s.seed, s.running,
             double(s.liveVelocities[0])};
  };
  EXPECT_FALSE(set("tindrel.chainStart", 9)) << "above the end (7)";
  EXPECT_TRUE(set("tindrel.chainEnd", 10) && set("tindrel.chainStart", 9));
  s.currentPattern = 6;
  s.walkPosition = 20;
  const auto plane = rig.save();
  const auto before = settings();
  for (const auto &c : cases) {
    EXPECT_FALSE(set((std::string("tindrel.") + c.key).c_str(), c.value)) << c.key << c.value;
    EXPECT_EQ(rig.save(), plane) << c.key;
    EXPECT_EQ(settings(), before) << c.key;
    EXPECT_EQ(V({s.currentPattern, s.walkPosition}), V({6, 20})) << c.key;
  }
}

TEST_F(SetParameter, LengthBelongsToTheSelectedPatternAndPullsTheWalkerBack) {
  s.walkPosition = 12;
  s.cycleStep = 12;
  EXPECT_TRUE(set("tindrel.length", 8));
  EXPECT_EQ(V({double(s.patternLengths[0]), s.walkPosition, s.cycleStep}), V({8, 0, 0}));
  s.walkPosition = 7;
  EXPECT_TRUE(set("tindrel.length", 8.9));
  EXPECT_EQ(s.walkPosition, 7) << "still inside the pattern";
  EXPECT_TRUE(set("tindrel.pattern", 3));
  EXPECT_TRUE(set("tindrel.length", 5));
  EXPECT_EQ(V({double(s.patternLengths[3]), double(s.patternLengths[0]), double(s.patternLengths[4])}),
            V({5, 8, 32}));
}

TEST_F(SetParameter, AnyAcceptedChangeRewritesTheSelectedLaneAndEndsAChainExcursion) {
  EXPECT_TRUE(set("tindrel.g5", 90.7));
  EXPECT_EQ(V({double(s.liveVelocities[4]), double(s.stepVelocity[rig.cell(0, 4)])}), V({90, 90}));
  EXPECT_EQ(s.stepVelocity[rig.cell(1, 4)], 100) << "other patterns keep their lane";
  EXPECT_TRUE(set("tindrel.length", 4));
  s.currentPattern = 6;
  s.walkPosition = 10;
  EXPECT_TRUE(set("tindrel.velocityScale", 1));
  EXPECT_EQ(V({s.currentPattern, s.walkPosition}), V({0, 0})) << "back on the shorter pattern 0";
  // The 32 live velocities go over the lane of the pattern now selected.
  EXPECT_TRUE(set("tindrel.pattern", 2));
  for (int step = 0; step < 32; ++step)
    EXPECT_EQ(s.stepVelocity[rig.cell(2, step)], s.liveVelocities[step]) << step;
}

TEST_F(SetParameter, ApplyParameterTakesWholeIdsOnly) {
  for (double id : {53.0, 2.5, -1.0, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(nk::applyParameter(s, id, 1)) << id;
  EXPECT_TRUE(nk::applyParameter(s, 1, 150));
  EXPECT_EQ(s.bpmMicros, 150000000);
  EXPECT_TRUE(nk::applyParameter(s, 52, 7));
  EXPECT_EQ(s.liveVelocities[31], 7);
}

} // namespace
} // namespace kt
