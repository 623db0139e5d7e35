// Pad overrides: the per-setting acceptance rules, pad identity and the
// 256-pad limit on reading, the written form, and the engine's limits.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "banks/pad_overrides.h"

namespace {

using namespace norva;

bool parse(const std::string &text, SamplerPadOverrides &out) {
  return norva::parseSamplerPadOverridesJson(text.data(), text.size(), out);
}

SamplerPadOverrides parsed(const std::string &text) {
  SamplerPadOverrides pads;
  EXPECT_TRUE(parse(text, pads)) << text;
  return pads;
}

std::string written(const SamplerPadOverrides &pads) {
  std::string out;
  norva::writeSamplerPadOverridesJson(out, pads);
  return out;
}

// One pad's settings object -> the mask it ends with (0: the pad is dropped),
// read back through the writer so the kept values show too.
TEST(PadOverrides, SettingAcceptance) {
  const struct {
    const char *settings;
    const char *kept;  // "" when the pad is dropped
  } cases[] = {
      {R"({"transpose":2.5})", ""}, {R"({"transpose":-24})", R"({"p":{"transpose":-24}})"},
      {R"({"transpose":25})", ""}, {R"({"gain":5})", ""}, {R"({"gain":5,"pan":0.5})", R"({"p":{"pan":0.5}})"},
      {R"({"reverse":0.5})", ""}, {R"({"reverse":1,"muted":0})", R"({"p":{"reverse":1,"muted":0}})"},
      {R"({"release":0.0009})", ""},
      {R"({"release":0.001,"resonance":18,"filterHz":20000})", R"({"p":{"release":0.001,"filterHz":20000,"resonance":18}})"},
      {R"({"filterHz":19.99,"resonance":0.09,"attack":2.01,"fineTune":-100.5})", ""},
      {R"({"chokeGroup":8,"roundRobinGroup":0})", R"({"p":{"chokeGroup":8,"roundRobinGroup":0}})"},
      {R"({"chokeGroup":1.5,"roundRobinGroup":9})", ""},
      {R"({"velocitySensitivity":1.0000001,"start":-0.1,"end":1.1})", ""},
      {R"({"gain":nan,"pan":inf,"fineTune":1e999})", ""},
      {R"({"gain":"2","pan":null,"start":[1,{"a":2}],"end":true,"volume":3})", ""},
      {R"({"gain":+2,"pan":0x0})", R"({"p":{"gain":2,"pan":0}})"},
      {R"({"gain":2,"gain":3})", R"({"p":{"gain":3}})"}, {R"({"gain":2,"gain":9})", R"({"p":{"gain":2}})"},
  };
  for (const auto &c : cases) {
    const SamplerPadOverrides pads = parsed(std::string(R"({"p":)") + c.settings + "}");
    EXPECT_EQ(written(pads), *c.kept ? c.kept : "{}") << c.settings;
  }
}

TEST(PadOverrides, SameKeyReplacesInPlace) {
  const SamplerPadOverrides pads = parsed(
      R"({"a":{"gain":2,"pan":0.5},"b":{"gain":1},"x":7,"a":{"muted":1},"b":{"gain":9}})");
  ASSERT_EQ(pads.size(), 2u);
  EXPECT_EQ(pads[0].key, "a");
  EXPECT_EQ(pads[0].mask, norva::kPadMuted) << "the second member's settings only";
  EXPECT_EQ(pads[0].gain, 1.0) << "unset settings keep their defaults";
  EXPECT_EQ(pads[1].key, "b");
  EXPECT_EQ(pads[1].gain, 1.0) << "a second member with nothing accepted leaves the first";
}

TEST(PadOverrides, PadCountAndKeyLimits) {
  const auto members = [](int count, const char *value) {
    std::string text = "{";
    for (int i = 0; i < count; ++i) text += (i ? ",\"" : "\"") + std::to_string(i) + "\":" + value;
    return text + "}";
  };
  EXPECT_EQ(parsed(members(256, R"({"gain":1})")).size(), 256u);
  EXPECT_TRUE(parsed(members(257, R"({"gain":1})")).empty());
  EXPECT_TRUE(parsed(members(257, "0")).empty()) << "every member counts, stored or not";

  const std::string longest(160, 'k');
  const SamplerPadOverrides keys = parsed(R"({")" + longest + R"(":{"gain":1},")" + longest + R"(k":{"gain":1}})");
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].key, longest);

  // A nameless pad is dropped, so the rest of the set can still be published.
  const SamplerPadOverrides named = parsed(R"({"":{"gain":1},"kick":{"pan":0.5}})");
  ASSERT_EQ(named.size(), 1u);
  EXPECT_EQ(named[0].key, "kick");
  EXPECT_TRUE(padOverridesPublishable(named));
}

TEST(PadOverrides, MalformedTextLeavesTheSetUnchanged) {
  SamplerPadOverrides pads = parsed(R"({"keep":{"gain":2}})");
  for (const char *bad : {"", "[]", R"({"a":{"gain":1},})", R"({"a":{"gain":1,}})", R"({"a":{"gain":tru}})",
                          R"({"a":{"gain":1x}})", R"({"a":{}} x)", R"({"a":{"gain":1})"}) {
    EXPECT_FALSE(parse(bad, pads)) << bad;
    ASSERT_EQ(pads.size(), 1u) << bad;
    EXPECT_EQ(pads[0].key, "keep");
  }
  EXPECT_TRUE(parse(" \n{}\t", pads));
  EXPECT_TRUE(pads.empty());
}

TEST(PadOverrides, WrittenForm) {
  // Every setting, in bit order whatever order it was read in.
  const std::string full =
      R"({"pad \"1\"":{"transpose":-3,"fineTune":12.5,"gain":0.1,"pan":-0.25,"start":0.125,"end":1,)"
      R"("attack":1e-04,"release":4,"filterHz":18000,"resonance":0.7,"reverse":1,"muted":0,"chokeGroup":8,)"
      R"("roundRobinGroup":2,"velocitySensitivity":0.5}})";
  EXPECT_EQ(written(parsed(full)), full);
  EXPECT_EQ(written(parsed(R"({"p":{"velocitySensitivity":0,"transpose":1}})")),
            R"({"p":{"transpose":1,"velocitySensitivity":0}})");

  SamplerPadOverride noKey;
  noKey.mask = norva::kPadGain;
  SamplerPadOverride noMask;
  noMask.key = "unset";
  SamplerPadOverride odd;
  odd.key = "odd";
  odd.mask = norva::kPadGain | norva::kPadPan;
  odd.gain = std::numeric_limits<double>::infinity();
  odd.pan = 0.3;
  EXPECT_EQ(written({noKey, odd, noMask}), R"({"odd":{"gain":null,"pan":0.3}})");
  EXPECT_EQ(written({}), "{}");
  EXPECT_EQ(parsed(written({odd}))[0].mask, norva::kPadPan) << "null reads back as no setting";
}

TEST(PadOverrides, PublishableLimits) {
  SamplerPadOverride pad{.key = "k", .mask = norva::kPadMuted};
  EXPECT_TRUE(norva::padOverridesPublishable(SamplerPadOverrides(norva::kMaxPadOverrides, pad)));
  EXPECT_FALSE(norva::padOverridesPublishable(SamplerPadOverrides(norva::kMaxPadOverrides + 1, pad)));
  const std::pair<SamplerPadOverride, bool> cases[] = {
      {{.key = std::string(norva::kMaxPadKeyBytes, 'k'), .mask = 1}, true},
      {{.key = std::string(norva::kMaxPadKeyBytes + 1, 'k'), .mask = 1}, false},
      {{.key = "", .mask = 1}, false}, {{.key = "k", .mask = 0}, false}};
  for (const auto &[other, ok] : cases) EXPECT_EQ(norva::padOverridesPublishable({pad, other}), ok) << other.key;
}

}  // namespace
