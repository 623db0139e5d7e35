// CC map JSON: the written form, what a binding member does to the binding,
// which bindings are dropped, the 64-binding capacity, and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "ccmap/cc_map.h"

namespace {

using norva::CcBinding;
using norva::CcCurve;
using norva::CcMap;
using norva::CcTakeover;
using norva::CcValueMode;

constexpr uint32_t kBpm = 1;

bool parse(const std::string &text, CcMap &out) { return norva::parseCcMapJson(text.data(), text.size(), out); }

std::string written(const CcMap &map) {
  std::string out;
  norva::writeCcMapJson(out, map);
  return out;
}

CcBinding binding(uint32_t paramIndex, uint8_t cc) {
  CcBinding b;
  b.paramIndex = paramIndex;
  b.cc = cc;
  return b;
}

// The one binding that a list holding {"path":"tindrel.bpm",<members>} reads
// as; count 0 when it was dropped.
CcMap readOne(const std::string &members) {
  CcMap map;
  const std::string text = R"([{"path":"tindrel.bpm",)" + members + "}]";
  EXPECT_TRUE(parse(text, map)) << text;
  return map;
}

TEST(CcMap, WrittenForm) {
  CcMap map;
  EXPECT_EQ(written(map), R"({"version":1,"bindings":[]})");

  CcBinding full = binding(kBpm, 74);
  full.channel = 3;
  full.hasMin = full.hasMax = true;
  full.min = -0.5;
  full.max = 300;
  full.curve = CcCurve::sCurve;
  full.valueMode = CcValueMode::relativeTwosComplement;
  full.takeover = CcTakeover::scaled;
  full.enabled = false;
  map.bindings[0] = binding(53, 1);  // not a catalogue row: left out, no comma
  map.bindings[1] = binding(0, 0);
  map.bindings[2] = binding(200, 2);
  map.bindings[3] = full;
  map.count = 4;
  EXPECT_EQ(written(map),
            R"({"version":1,"bindings":[{"cc":0,"path":"tindrel.run"},{"cc":74,"path":"tindrel.bpm","channel":3,)"
            R"("min":-0.5,"max":300,"curve":"s-curve","valueMode":"relative-twos-complement","takeover":"scaled",)"
            R"("enabled":false}]})");

  std::string message;
  map.count = 1;
  norva::writeCcMapChangedJson(message, map);
  EXPECT_EQ(message, R"({"type":"norva.ccMapChanged","map":{"version":1,"bindings":[]}})");

  map.count = 1000;  // a damaged count reads no further than the array
  CcMap back;
  ASSERT_TRUE(parse(written(map), back));
  EXPECT_EQ(back.count, 62u) << "64 slots, two of them not rows";
}

TEST(CcMap, WholeTextAcceptance) {
  const auto nested = [](int levels) {
    return R"([{"cc":1,"path":"tindrel.bpm","x":)" + std::string(levels, '[') + std::string(levels, ']') + "}]";
  };
  const struct {
    std::string text;
    bool ok;
    uint32_t count;
  } cases[] = {
      {"{}", true, 0},
      {" \n[]\t", true, 0},
      {R"({"version":1,"bindings":5,"other":{"a":[null]}})", true, 0},
      {R"({"bindings":[{"cc":1,"path":"tindrel.bpm"}],"bindings":[{"cc":2,"path":"tindrel.run"}]})", true, 2},
      {R"([5,"x",null,[1],{},{"cc":1,"path":"tindrel.bpm"}])", true, 1},
      {nested(32), true, 1},
      {nested(33), false, 0},
      {"", false, 0},
      {"null", false, 0},
      {"{} x", false, 0},
      {"[]]", false, 0},
      {R"({"bindings":[],})", false, 0},
      {R"([{"cc":1,"path":"tindrel.bpm"},])", false, 0},
      {R"([{"path":"tindrel.bpm","curve":1}])", false, 0},
      {R"([{"path":5,"cc":1}])", false, 0},
      {R"([{"path":"tindrel.bpm","takeover":null}])", false, 0},
      {R"([{"path":"tindrel.bpm","enabled":fals}])", false, 0},
  };
  for (const auto &c : cases) {
    CcMap map;
    map.count = 9;  // a failed read leaves the caller's map alone
    EXPECT_EQ(parse(c.text, map), c.ok) << c.text;
    EXPECT_EQ(map.count, c.ok ? c.count : 9u) << c.text;
  }
}

TEST(CcMap, PresentOnlyWhenABindingsListWasRead) {
  const struct {
    const char *text;
    bool present;
    const char *after;  // what the reader has left
  } cases[] = {
      {"{} ,", false, " ,"},
      {R"({"bindings":"x"})", false, ""},
      {"[]", true, ""},
      {R"({"bindings":[]}])", true, "]"},
      {"null}", false, "}"},
  };
  for (const auto &c : cases) {
    norva::Reader r(c.text, std::strlen(c.text));
    CcMap map;
    map.count = 5;
    bool present = !c.present;
    ASSERT_TRUE(norva::parseCcMapValue(r, map, present)) << c.text;
    EXPECT_EQ(present, c.present) << c.text;
    EXPECT_EQ(map.count, 0u) << c.text;
    EXPECT_EQ(std::string(r.cur, r.end), c.after) << c.text;
  }
}

// "cc" and "channel" round half up and are held to their ranges. Infinite,
// huge and NaN values never reach an integer conversion: the first two stop
// at the bound, NaN has no effect at all.
TEST(CcMap, ControllerAndChannelNumbers) {
  const struct {
    const char *members;
    uint32_t count;
    int cc;
    int channel;
  } cases[] = {
      {R"("cc":127.6)", 1, 127, 0},           {R"("cc":-3)", 1, 0, 0},
      {R"("cc":63.5)", 1, 64, 0},             {R"("cc":+0x10)", 1, 16, 0},
      {R"("cc":1e999)", 1, 127, 0},           {R"("cc":-inf)", 1, 0, 0},
      {R"("cc":nan)", 0, 0, 0},               {R"("cc":"5")", 0, 0, 0},
      {R"("cc":9,"cc":nan)", 1, 9, 0},        {R"("cc":9,"cc":10)", 1, 10, 0},
      {R"("cc":1,"channel":0)", 1, 1, 1},     {R"("cc":1,"channel":16.4)", 1, 1, 16},
      {R"("cc":1,"channel":-1e300)", 1, 1, 1}, {R"("cc":1,"channel":inf)", 1, 1, 16},
      {R"("cc":1,"channel":nan)", 1, 1, 0},   {R"("cc":1,"channel":"2")", 1, 1, 0},
  };
  for (const auto &c : cases) {
    const CcMap map = readOne(c.members);
    ASSERT_EQ(map.count, c.count) << c.members;
    if (c.count == 0) continue;
    EXPECT_EQ(map.bindings[0].cc, c.cc) << c.members;
    EXPECT_EQ(map.bindings[0].channel, c.channel) << c.members;
  }
}

TEST(CcMap, NamedMembers) {
  const struct {
    const char *members;
    CcCurve curve;
    CcValueMode mode;
    CcTakeover takeover;
    bool enabled;
  } cases[] = {
      {R"("curve":"exp")", CcCurve::exp, CcValueMode::absolute, CcTakeover::none, true},
      {R"("curve":"log","curve":"EXP")", CcCurve::linear, CcValueMode::absolute, CcTakeover::none, true},
      {R"("curve":"s-curve","valueMode":"toggle")", CcCurve::sCurve, CcValueMode::toggle, CcTakeover::none, true},
      {R"("valueMode":"relative-binary-offset","takeover":"pickup")", CcCurve::linear,
       CcValueMode::relativeBinaryOffset, CcTakeover::pickup, true},
      {R"("valueMode":"Toggle","takeover":"Pickup")", CcCurve::linear, CcValueMode::absolute, CcTakeover::none, true},
      {R"("takeover":"scaled","enabled":false)", CcCurve::linear, CcValueMode::absolute, CcTakeover::scaled, false},
      {R"("enabled":false,"enabled":0)", CcCurve::linear, CcValueMode::absolute, CcTakeover::none, false},
      {R"("enabled":"false","enabled":null)", CcCurve::linear, CcValueMode::absolute, CcTakeover::none, true},
  };
  for (const auto &c : cases) {
    const CcMap map = readOne(std::string(R"("cc":1,)") + c.members);
    ASSERT_EQ(map.count, 1u) << c.members;
    EXPECT_EQ(map.bindings[0].curve, c.curve) << c.members;
    EXPECT_EQ(map.bindings[0].valueMode, c.mode) << c.members;
    EXPECT_EQ(map.bindings[0].takeover, c.takeover) << c.members;
    EXPECT_EQ(map.bindings[0].enabled, c.enabled) << c.members;
  }
}

TEST(CcMap, UnusableBindingsAreDroppedInPlace) {
  CcMap map;
  ASSERT_TRUE(parse(R"([{"cc":1,"path":"tindrel.run"},{"cc":2,"path":"tindrel.nope"},{"cc":3},)"
                    R"({"path":"tindrel.bpm"},{"cc":4,"path":"tindrel.BPM"},{"cc":5,"path":"tindrel.bpm","path":"x"},)"
                    R"({"cc":6,"path":"x","path":"tindrel.g32","unknown":{"a":[1,2]}},{"cc":6,"path":"tindrel.g32"}])",
                    map));
  ASSERT_EQ(map.count, 4u);
  const uint32_t params[] = {0, kBpm, 52, 52};
  const int ccs[] = {1, 5, 6, 6};
  for (uint32_t i = 0; i < map.count; ++i) {
    EXPECT_EQ(map.bindings[i].paramIndex, params[i]) << i;
    EXPECT_EQ(map.bindings[i].cc, ccs[i]) << i;
  }
}

TEST(CcMap, CapacityIsSixtyFourAcrossLists) {
  const auto list = [](int from, int count) {
    std::string text = "[";
    for (int i = from; i < from + count; ++i) {
      text += (i == from ? "" : ",") + std::string(R"({"path":"tindrel.bpm","cc":)") + std::to_string(i) + "}";
    }
    return text + "]";
  };
  CcMap map;
  ASSERT_TRUE(parse(list(0, 65), map));
  ASSERT_EQ(map.count, 64u);
  EXPECT_EQ(map.bindings[63].cc, 63);
  ASSERT_TRUE(parse(R"({"bindings":)" + list(0, 40) + R"(,"bindings":)" + list(100, 27) + "}", map));
  ASSERT_EQ(map.count, 64u);
  EXPECT_EQ(map.bindings[39].cc, 39);
  EXPECT_EQ(map.bindings[63].cc, 123);
}

TEST(CcMap, RoundTrip) {
  CcMap map;
  for (uint32_t i = 0; i < norva::kCcMapCapacity; ++i) {
    CcBinding &b = map.bindings[i];
    b = binding(i % 53, static_cast<uint8_t>(i * 2));
    b.channel = static_cast<uint8_t>(i % 17);
    b.curve = static_cast<CcCurve>(i % 4);
    b.valueMode = static_cast<CcValueMode>(i % 5);
    b.takeover = static_cast<CcTakeover>(i % 3);
    b.enabled = i % 7 != 0;
    b.hasMin = i % 2 == 0;
    b.min = b.hasMin ? (i % 4 == 0 ? -0.0 : 1e-300 * i) : 0.0;
    b.hasMax = i % 3 == 0;
    b.max = b.hasMax ? 0.1 * i : 0.0;
  }
  map.bindings[5].cc = map.bindings[6].cc = 9;  // the same controller twice stays twice
  map.bindings[5].channel = map.bindings[6].channel = 2;
  map.count = norva::kCcMapCapacity;

  CcMap back;
  ASSERT_TRUE(parse(written(map), back));
  ASSERT_EQ(back.count, map.count);
  for (uint32_t i = 0; i < map.count; ++i) {
    const CcBinding &a = map.bindings[i];
    const CcBinding &b = back.bindings[i];
    EXPECT_TRUE(a.paramIndex == b.paramIndex && a.cc == b.cc && a.channel == b.channel && a.curve == b.curve &&
                a.valueMode == b.valueMode && a.takeover == b.takeover && a.enabled == b.enabled &&
                a.hasMin == b.hasMin && a.hasMax == b.hasMax && std::signbit(a.min) == std::signbit(b.min) &&
                a.min == b.min && a.max == b.max)
        << i;
  }
}

TEST(CcMap, NonFiniteRangeIsWrittenAsNullAndReadsBackUnset) {
  const CcMap map = readOne(R"("cc":1,"min":-1e999,"max":nan)");
  ASSERT_EQ(map.count, 1u);
  EXPECT_TRUE(map.bindings[0].hasMin && std::isinf(map.bindings[0].min));
  EXPECT_TRUE(map.bindings[0].hasMax && std::isnan(map.bindings[0].max));
  const std::string text = written(map);
  EXPECT_EQ(text, R"({"version":1,"bindings":[{"cc":1,"path":"tindrel.bpm","min":null,"max":null}]})");
  CcMap back;
  ASSERT_TRUE(parse(text, back));
  ASSERT_EQ(back.count, 1u);
  EXPECT_FALSE(back.bindings[0].hasMin);
  EXPECT_FALSE(back.bindings[0].hasMax);
}

}  // namespace
