// CC resolution: curves, ranges and parameter kinds; the relative value
// modes; toggle and takeover over message sequences; which bindings match;
// and the activity message's written form.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ccmap/cc_activity_feed.h"
#include "ccmap/cc_resolve.h"

namespace {

using namespace norva;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr uint32_t kStep1 = kParamFirstStepVelocity;  // plain 0..127: controller k reads as k / 127
const norva_param_desc &kBpmRow = NORVA_PARAMS[kParamBpm];

norva_param_desc rowOf(uint32_t kind, double min, double max, int32_t labelCount = 0) {
  norva_param_desc row = NORVA_PARAMS[kStep1];
  row.kind = kind;
  row.min = min;
  row.max = max;
  row.labelCount = labelCount;
  return row;
}

double fixedCurrent(void *context, unsigned) { return *static_cast<const double *>(context); }

TEST(CcResolve, CurvesRangesAndKinds) {
  const norva_param_desc list5 = rowOf(kParamKindList, 0, 4, 5), list1 = rowOf(kParamKindList, 0, 0, 1);
  const norva_param_desc toggle = rowOf(kParamKindToggle, 0, 1), flat = rowOf(kParamKindRange, 5, 5);
  const double half = 64.0 / 127;
  const struct { CcBinding binding; const norva_param_desc &row; int value; double expected; } cases[] = {
      {{}, kBpmRow, 127, 1.0}, {{}, kBpmRow, 200, 1.0}, {{}, kBpmRow, -5, 0.0},
      {{.curve = CcCurve::exp}, NORVA_PARAMS[kStep1], 64, half * half},
      {{.curve = CcCurve::log}, NORVA_PARAMS[kStep1], 64, std::sqrt(half)},
      {{.curve = CcCurve::sCurve}, NORVA_PARAMS[kStep1], 64, half * half * (3 - 2 * half)},
      {{.hasMin = true, .hasMax = true, .min = 40, .max = 60}, kBpmRow, 0, 20.0 / 280},
      {{.hasMin = true, .hasMax = true, .min = 40, .max = 60}, kBpmRow, 127, 40.0 / 280},
      {{.hasMin = true, .hasMax = true, .min = 300, .max = 20}, kBpmRow, 0, 1.0},  // runs backwards
      {{.hasMax = true, .max = 1000}, kBpmRow, 127, 1.0},
      {{}, list5, 64, half}, {{.hasMax = true, .max = 10}, list5, 127, 1.0}, {{}, list1, 127, 0.0},
      {{}, toggle, 63, 0.0}, {{}, toggle, 64, 1.0}, {{.hasMin = true, .hasMax = true, .min = -1, .max = 0.4}, toggle, 127, 0.0},
      {{}, flat, 127, 0.0},
      // Bounds that give no number give 0, never NaN.
      {{.hasMin = true, .min = -std::numeric_limits<double>::infinity()}, kBpmRow, 64, 0.0},
      {{.hasMax = true, .max = kNan}, list5, 127, 0.0},
  };
  for (const auto &c : cases)
    EXPECT_NEAR(ccApplyNormalized(c.binding, c.row, c.value), c.expected, 1e-12) << "value " << c.value;
}

// From a parameter at 64 / 127, what one message does in each relative mode.
TEST(CcResolve, RelativeSteps) {
  using M = CcValueMode;
  const struct { CcValueMode mode; int value; std::optional<int> step; } cases[] = {
      {M::relativeSignedBit, 65, 1},     {M::relativeSignedBit, 1, -1},       {M::relativeSignedBit, 127, 63},
      {M::relativeSignedBit, 200, 63},   {M::relativeSignedBit, 0, {}},       {M::relativeSignedBit, 64, {}},
      {M::relativeSignedBit, -5, {}},    {M::relativeBinaryOffset, 65, 1},    {M::relativeBinaryOffset, 63, -1},
      {M::relativeBinaryOffset, 0, -64}, {M::relativeBinaryOffset, 64, {}},   {M::relativeTwosComplement, 1, 1},
      {M::relativeTwosComplement, 127, -1}, {M::relativeTwosComplement, 200, -1},
      {M::relativeTwosComplement, 0, {}},   {M::relativeTwosComplement, 64, {}},
  };
  double current = 64.0 / 127;
  for (const auto &c : cases) {
    CcMap map;
    map.bindings[0] = {.paramIndex = kStep1, .cc = 7, .valueMode = c.mode};
    map.count = 1;
    CcResolution out[2];
    const unsigned n = ccResolve(map, 7, 1, c.value, nullptr, fixedCurrent, &current, out, 2);
    ASSERT_EQ(n, c.step ? 1u : 0u) << "mode " << int(c.mode) << " value " << c.value;
    if (c.step) { EXPECT_NEAR(out[0].value, (64 + *c.step) / 127.0, 1e-12) << "value " << c.value; }
  }
}

// A message sequence through one binding on step 1's velocity: the
// controller value each message yields, -1 for nothing.
TEST(CcResolve, TakeoverAndToggleSequences) {
  using T = CcTakeover;
  const auto none = CcValueMode::absolute, toggle = CcValueMode::toggle;
  const struct { CcValueMode mode; CcTakeover takeover; bool state; std::optional<double> current;
                 std::vector<int> values, expected; } cases[] = {
      {toggle, T::none, true, {}, {0, 127, 127, 0, 127}, {-1, 127, -1, -1, 0}},
      {toggle, T::none, false, {}, {127, 127, 64, 63}, {127, 127, 127, -1}},
      {toggle, T::none, false, 0.9, {127}, {0}},
      {toggle, T::none, false, 0.5, {100}, {127}},  // a tie gives on
      {none, T::pickup, true, 100 / 127.0, {10, 50, 99, 101, 20}, {-1, -1, -1, 101, 20}},
      {none, T::pickup, true, 100 / 127.0, {100, 3}, {100, 3}},
      {none, T::pickup, true, 100 / 127.0, {120, 90}, {-1, 90}},
      {none, T::pickup, false, 100 / 127.0, {10}, {10}},
      {none, T::pickup, true, {}, {10, 90, 30}, {10, 90, 30}},  // caught by its own first output
      {none, T::scaled, true, 64 / 127.0, {20, 30, 127}, {-1, 70, 127}},
      {none, T::scaled, true, 64 / 127.0, {20, 10, 10}, {-1, 32, -1}},
      {none, T::scaled, false, 64 / 127.0, {20, 30}, {-1, -1}},
      {none, T::scaled, true, {}, {20, 30}, {20, 30}},
      {none, T::none, false, 2.0, {5}, {5}},
      {CcValueMode::relativeSignedBit, T::none, false, 2.0, {65}, {127}},  // answers held to 0..1
      {CcValueMode::relativeBinaryOffset, T::none, false, kNan, {65}, {1}},
      {CcValueMode::relativeSignedBit, T::none, true, {}, {1, 65, 65}, {0, 1, 2}},
  };
  for (const auto &c : cases) {
    CcMap map;
    map.bindings[0] = {.paramIndex = kStep1, .cc = 7, .valueMode = c.mode, .takeover = c.takeover};
    map.count = 1;
    CcRouterState state;
    double current = c.current.value_or(0.0);
    std::vector<int> got;
    for (int value : c.values) {
      CcResolution out[1];
      const unsigned n = ccResolve(map, 7, 1, value, c.state ? &state : nullptr,
                                   c.current ? fixedCurrent : nullptr, &current, out, 1);
      got.push_back(n == 0 ? -1 : int(std::lround(out[0].value * 127)));
    }
    EXPECT_EQ(got, c.expected) << "mode " << int(c.mode) << " takeover " << int(c.takeover);
  }
}

TEST(CcResolve, WhichBindingsMatch) {
  CcMap map;
  map.bindings[0] = {.paramIndex = kStep1, .cc = 7};
  map.bindings[1] = {.paramIndex = kStep1 + 1, .cc = 7, .channel = 5};
  map.bindings[2] = {.paramIndex = kStep1 + 2, .cc = 7, .enabled = false};
  map.bindings[3] = {.paramIndex = kParamCount, .cc = 7};
  map.bindings[4] = {.paramIndex = kStep1 + 3, .cc = 8};
  map.count = 5;
  const struct { int cc, channel; std::vector<uint32_t> params; } cases[] = {
      {7, 5, {kStep1, kStep1 + 1}}, {7, 6, {kStep1}}, {8, 16, {kStep1 + 3}}, {9, 1, {}}, {263, 1, {}},
  };
  CcRouterState state;
  for (const auto &c : cases) {
    CcResolution out[8];
    const unsigned n = ccResolve(map, c.cc, c.channel, 100, &state, nullptr, nullptr, out, 8);
    std::vector<uint32_t> params;
    for (unsigned i = 0; i < n; ++i) params.push_back(out[i].paramIndex);
    EXPECT_EQ(params, c.params) << "cc " << c.cc << " channel " << c.channel;
  }
  EXPECT_FALSE(state.hasLastCc[2] || state.hasLastCc[3]) << "disabled and inert bindings keep no memory";

  // Three bindings on one controller, room for two: the third is not visited.
  map.bindings[3].paramIndex = kStep1 + 4;
  map.bindings[2].enabled = true;
  state.reset(&map);
  CcResolution out[2];
  EXPECT_EQ(ccResolve(map, 7, 1, 90, &state, nullptr, nullptr, out, 2), 2u);
  EXPECT_TRUE(state.hasLastCc[2]);
  EXPECT_FALSE(state.hasLastCc[3]);

  // A state kept for another map is cleared, but only by a call that can write.
  CcMap other;
  state.reset(&other);
  state.hasLastCc[0] = true;
  EXPECT_EQ(ccResolve(map, 7, 1, 90, &state, nullptr, nullptr, nullptr, 2), 0u);
  EXPECT_EQ(ccResolve(map, 7, 1, 90, &state, nullptr, nullptr, out, 0), 0u);
  EXPECT_EQ(state.map, &other);
  EXPECT_EQ(ccResolve(map, 9, 1, 90, &state, nullptr, nullptr, out, 2), 0u);
  EXPECT_EQ(state.map, &map);
  EXPECT_FALSE(state.hasLastCc[0]);

  // A damaged count reads no further than the bindings.
  CcMap full;
  full.bindings.fill({.paramIndex = kStep1, .cc = 7});
  full.count = 1000;
  CcResolution many[100];
  EXPECT_EQ(ccResolve(full, 7, 1, 90, nullptr, nullptr, nullptr, many, 100), kCcMapCapacity);
}

TEST(CcActivity, MessageForm) {
  std::string text;
  writeMidiCcJson(text, {1, 2, 3});
  writeMidiCcJson(text, {127, 16, 0});
  EXPECT_EQ(text, R"({"type":"norva.midiCc","cc":1,"channel":2,"value":3})"
                  R"({"type":"norva.midiCc","cc":127,"channel":16,"value":0})");
}

}  // namespace
