// CC map JSON: the written form, what a binding member does to the binding,
// which bindings are dropped, the 64-binding capacity, and refusals.
// fuzz/fuzz_cc_map.cpp reads back what is written from arbitrary maps.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "ccmap/cc_map.h"
#include "params/params.h"

namespace {

using namespace norva;

bool parse(const std::string &text, CcMap &out) { return norva::parseCcMapJson(text.data(), text.size(), out); }

std::string written(const CcMap &map) {
  std::string out;
  norva::writeCcMapJson(out, map);
  return out;
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

  map.bindings[0] = {.paramIndex = kParamCount, .cc = 1};  // not a catalogue row: left out, no comma
  map.bindings[1] = {.paramIndex = 0, .cc = 0};
  map.bindings[2] = {.paramIndex = 200, .cc = 2};
  map.bindings[3] = {.paramIndex = kParamBpm, .cc = 74, .channel = 3, .curve = CcCurve::sCurve,
                     .valueMode = CcValueMode::relativeTwosComplement, .takeover = CcTakeover::scaled,
                     .enabled = false, .hasMin = true, .hasMax = true, .min = -0.5, .max = 300};
  map.bindings[4] = {.paramIndex = kParamBpm, .cc = 127, .channel = 16, .curve = CcCurve::log,
                     .valueMode = CcValueMode::relativeSignedBit, .takeover = CcTakeover::pickup, .hasMin = true,
                     .hasMax = true, .min = -std::numeric_limits<double>::infinity(), .max = std::nan("")};
  map.count = 5;
  EXPECT_EQ(written(map),
            R"({"version":1,"bindings":[{"cc":0,"path":"tindrel.run"},{"cc":74,"path":"tindrel.bpm","channel":3,)"
            R"("min":-0.5,"max":300,"curve":"s-curve","valueMode":"relative-twos-complement","takeover":"scaled",)"
            R"("enabled":false},{"cc":127,"path":"tindrel.bpm","channel":16,"min":null,"max":null,"curve":"log",)"
            R"("valueMode":"relative-signed-bit","takeover":"pickup"}]})");

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
  const struct { std::string text; bool ok; uint32_t count; } cases[] = {
      {"{}", true, 0}, {" \n[]\t", true, 0}, {R"({"version":1,"bindings":5,"other":{"a":[null]}})", true, 0},
      {R"({"bindings":[{"cc":1,"path":"tindrel.bpm"}],"bindings":[{"cc":2,"path":"tindrel.run"}]})", true, 2},
      {R"([5,"x",null,[1],{},{"cc":1,"path":"tindrel.bpm","min":null,"max":"7"}])", true, 1},
      {nested(32), true, 1}, {nested(33), false, 0},
      {"", false, 0}, {"null", false, 0}, {"{} x", false, 0}, {"[]]", false, 0}, {R"({"bindings":[],})", false, 0},
      {R"([{"cc":1,"path":"tindrel.bpm"},])", false, 0}, {R"([{"path":"tindrel.bpm","curve":1}])", false, 0},
      {R"([{"path":5,"cc":1}])", false, 0}, {R"([{"path":"tindrel.bpm","takeover":null}])", false, 0},
      {R"([{"path":"tindrel.bpm","enabled":fals}])", false, 0},
  };
  for (const auto &c : cases) {
    CcMap map;
    map.count = 9;  // a failed read leaves the caller's map alone
    EXPECT_EQ(parse(c.text, map), c.ok) << c.text;
    EXPECT_EQ(map.count, c.ok ? c.count : 9u) << c.text;
  }
}

// Each row reads one binding {"path":"tindrel.bpm",<members>} and writes it
// back: the cc it must hold (-1: dropped) and the members after the path.
// "cc" and "channel" round half up and are held to their ranges; infinite
// and huge values stop at a bound, NaN and non-numbers have no effect, nor
// do bounds that are not finite.
// Names are exact, an unknown one sets the default; a later member wins.
TEST(CcMap, BindingMembers) {
  const struct { const char *members; int cc; const char *rest; } cases[] = {
      {R"("cc":-3)", 0, ""}, {R"("cc":63.5)", 64, ""}, {R"("cc":+0x10)", 16, ""}, {R"("cc":1e999)", 127, ""},
      {R"("cc":nan)", -1, ""}, {R"("cc":"5")", -1, ""}, {R"("cc":9,"cc":nan)", 9, ""},
      {R"("cc":1,"channel":0)", 1, R"(,"channel":1)"}, {R"("cc":1,"channel":16.4)", 1, R"(,"channel":16)"},
      {R"("cc":1,"channel":inf)", 1, R"(,"channel":16)"}, {R"("cc":1,"channel":nan,"channel":"2")", 1, ""},
      {R"("cc":1,"min":-1e999,"max":nan)", 1, ""},
      {R"("cc":1,"max":-2,"min":"x")", 1, R"(,"max":-2)"}, {R"("cc":1,"curve":"exp")", 1, R"(,"curve":"exp")"},
      {R"("cc":1,"curve":"log","curve":"EXP")", 1, ""},
      {R"("cc":1,"curve":"s-curve","valueMode":"toggle")", 1, R"(,"curve":"s-curve","valueMode":"toggle")"},
      {R"("cc":1,"valueMode":"relative-twos-complement")", 1, R"(,"valueMode":"relative-twos-complement")"},
      {R"("cc":1,"valueMode":"Toggle","takeover":"Pickup")", 1, ""},
      {R"("cc":1,"takeover":"scaled","enabled":false)", 1, R"(,"takeover":"scaled","enabled":false)"},
      {R"("cc":1,"enabled":"false","enabled":null)", 1, ""},
  };
  for (const auto &c : cases) {
    const std::string binding =
        c.cc < 0 ? "" : R"({"cc":)" + std::to_string(c.cc) + R"(,"path":"tindrel.bpm")" + c.rest + "}";
    EXPECT_EQ(written(readOne(c.members)), R"({"version":1,"bindings":[)" + binding + "]}") << c.members;
  }
}

TEST(CcMap, UnusableBindingsAreDroppedInPlace) {
  CcMap map;
  ASSERT_TRUE(parse(R"([{"cc":1,"path":"tindrel.run"},{"cc":2,"path":"tindrel.nope"},{"cc":3},)"
                    R"({"path":"tindrel.bpm"},{"cc":4,"path":"tindrel.BPM"},{"cc":5,"path":"tindrel.bpm","path":"x"},)"
                    R"({"cc":6,"path":"x","path":"tindrel.g32","unknown":{"a":[1,2]}},{"cc":6,"path":"tindrel.g32"}])",
                    map));
  ASSERT_EQ(map.count, 4u);
  const std::pair<uint32_t, int> expected[] = {{0, 1}, {kParamBpm, 5}, {52, 6}, {52, 6}};
  for (uint32_t i = 0; i < map.count; ++i) {
    EXPECT_EQ(map.bindings[i].paramIndex, expected[i].first) << i;
    EXPECT_EQ(map.bindings[i].cc, expected[i].second) << i;
  }
}

TEST(CcMap, CapacityIsSixtyFourAcrossLists) {
  const auto list = [](int from, int count) {
    std::string text = "[";
    for (int i = from; i < from + count; ++i)
      text += (i == from ? "" : ",") + std::string(R"({"path":"tindrel.bpm","cc":)") + std::to_string(i) + "}";
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

}  // namespace
