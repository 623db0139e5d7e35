// CC resolution: curves, ranges and parameter kinds; value modes and
// takeover over message sequences; which bindings match; and the activity
// message's written form.
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

double fixedCurrent(void *context, unsigned) { return *static_cast<const double *>(context); }

TEST(CcResolve, CurvesRangesAndKinds) {
  const auto row = [](uint32_t kind, double min, double max, int32_t labels) {
    norva_param_desc r = NORVA_PARAMS[kStep1];
    r.kind = kind, r.min = min, r.max = max, r.labelCount = labels;
    return r;
  };
  const norva_param_desc bpm = NORVA_PARAMS[kParamBpm], step = NORVA_PARAMS[kStep1],
                         list5 = row(kParamKindList, 0, 4, 5), toggle = row(kParamKindToggle, 0, 1, 0);
  const CcBinding lin{}, ranged{.hasMin = true, .hasMax = true, .min = 40, .max = 60},
      backwards{.hasMin = true, .hasMax = true, .min = 300, .max = 20};
  const double h = 64.0 / 127;
  const struct { CcBinding binding; norva_param_desc row; int value; double expected; } cases[] = {
      {lin, bpm, 200, 1}, {{.curve = CcCurve::exp}, step, 64, h * h}, {{.curve = CcCurve::log}, step, 64, std::sqrt(h)},
      {{.curve = CcCurve::sCurve}, step, 64, h * h * (3 - 2 * h)}, {ranged, bpm, -5, 20.0 / 280},
      {ranged, bpm, 127, 40.0 / 280}, {backwards, bpm, 0, 1}, {{.hasMax = true, .max = 1000}, bpm, 127, 1},
      {lin, list5, 64, h}, {{.hasMax = true, .max = 10}, list5, 127, 1}, {lin, toggle, 63, 0}, {lin, toggle, 64, 1},
      {{.hasMin = true, .hasMax = true, .min = -1, .max = 0.4}, toggle, 127, 0},
      // Bounds that give no number give 0, never NaN.
      {{.hasMin = true, .min = -std::numeric_limits<double>::infinity()}, bpm, 64, 0},
      {{.hasMax = true, .max = kNan}, list5, 127, 0}};
  for (const auto &c : cases) EXPECT_NEAR(ccApplyNormalized(c.binding, c.row, c.value), c.expected, 1e-12) << c.value;
}

// A message sequence through one binding on step 1's velocity: the
// controller position each message sets, -1 for nothing.
TEST(CcResolve, ValueModesAndTakeover) {
  using V = CcValueMode;
  using T = CcTakeover;
  const std::optional<double> none, mid = 64 / 127.0, far = 100 / 127.0;
  const struct {
    V mode;
    T takeover;
    bool state;
    std::optional<double> current;
    std::vector<int> values, expected;
  } cases[] = {
      {V::relativeSignedBit, T::none, false, mid, {65, 1, 127, 200, 0, 64, -5}, {65, 63, 127, 127, -1, -1, -1}},
      {V::relativeBinaryOffset, T::none, false, mid, {65, 63, 0, 64}, {65, 63, 0, -1}},
      {V::relativeTwosComplement, T::none, false, mid, {1, 127, 200, 0, 64}, {65, 63, 63, -1, -1}},
      {V::relativeSignedBit, T::none, true, none, {1, 65, 65}, {0, 1, 2}},  // from its own last output
      {V::relativeBinaryOffset, T::none, false, kNan, {65}, {1}},          // answers held to 0..1
      {V::toggle, T::none, true, none, {0, 127, 127, 0, 127}, {-1, 127, -1, -1, 0}},
      {V::toggle, T::none, false, none, {127, 127, 64, 63}, {127, 127, 127, -1}},
      {V::toggle, T::none, false, 0.9, {127}, {0}}, {V::toggle, T::none, false, 0.5, {100}, {127}},  // a tie gives on
      {V::absolute, T::pickup, true, far, {10, 50, 99, 101, 20}, {-1, -1, -1, 101, 20}},
      {V::absolute, T::pickup, true, far, {120, 90, 5}, {-1, 90, 5}}, {V::absolute, T::pickup, true, far, {100}, {100}},
      {V::absolute, T::pickup, false, far, {10}, {10}},
      {V::absolute, T::pickup, true, none, {10, 90, 30}, {10, 90, 30}},  // caught by its own first output
      {V::absolute, T::scaled, true, mid, {20, 30, 127}, {-1, 70, 127}},
      {V::absolute, T::scaled, true, mid, {20, 10, 10}, {-1, 32, -1}},
      {V::absolute, T::scaled, false, mid, {20, 30}, {-1, -1}},
      {V::absolute, T::scaled, true, none, {20, 30}, {20, 30}},
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
      const unsigned n = ccResolve(map, 7, 1, value, c.state ? &state : nullptr, c.current ? fixedCurrent : nullptr,
                                   &current, out, 1);
      got.push_back(n == 1 ? int(std::lround(out[0].value * 127)) : -1);
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
  map.bindings[4] = {.paramIndex = kStep1 + 4, .cc = 7, .channel = 5};
  map.count = 5;
  CcRouterState state;
  CcResolution out[kCcMapCapacity];
  const auto params = [&](const CcMap &m, int cc, int channel, unsigned maxOut) {
    std::vector<uint32_t> found;
    const unsigned n = ccResolve(m, cc, channel, 100, &state, nullptr, nullptr, out, maxOut);
    for (unsigned i = 0; i < n; ++i) found.push_back(out[i].paramIndex);
    return found;
  };
  using Rows = std::vector<uint32_t>;
  EXPECT_EQ(params(map, 7, 6, 8), Rows{kStep1});
  EXPECT_EQ(params(map, 8, 5, 8), Rows{});
  EXPECT_EQ(params(map, 7, 5, 2), (Rows{kStep1, kStep1 + 1})) << "room for two";
  EXPECT_FALSE(state.hasLastCc[2] || state.hasLastCc[3] || state.hasLastCc[4]) << "not matching, or not visited";
  EXPECT_EQ(params(map, 7, 5, 8), (Rows{kStep1, kStep1 + 1, kStep1 + 4}));

  // A state kept for another map is cleared, but only by a call that can write.
  const CcMap other;
  EXPECT_EQ(params(other, 7, 5, 0).size() + ccResolve(other, 7, 5, 1, &state, nullptr, nullptr, nullptr, 2), 0u);
  EXPECT_TRUE(state.map == &map && state.hasLastCc[4]);
  params(other, 7, 5, 8);
  EXPECT_TRUE(state.map == &other && !state.hasLastCc[4]);

  map.bindings.fill({.paramIndex = kStep1, .cc = 7});
  map.count = 1000;  // a damaged count reads no further than the bindings
  EXPECT_EQ(params(map, 7, 1, kCcMapCapacity).size(), kCcMapCapacity);
}

TEST(CcActivity, MessageForm) {
  std::string text;
  writeMidiCcJson(text, {1, 2, 3});
  writeMidiCcJson(text, {127, 16, 0});
  EXPECT_EQ(text, R"({"type":"norva.midiCc","cc":1,"channel":2,"value":3})"
                  R"({"type":"norva.midiCc","cc":127,"channel":16,"value":0})");
}

}  // namespace
