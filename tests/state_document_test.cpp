// The state document: its exact written form, what each section reads into
// the chunk, the limits on texts and authored bytes, the integers that must
// stop at their type's limits, and the refusals. fuzz/fuzz_state_document.cpp
// reads back what is written from arbitrary documents. The name helpers are
// seen through what the reader makes of names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "state/state_document.h"

namespace {

using namespace norva;


struct Defaults {
  double values[norva::kParamCount];
  Defaults() {
    for (uint32_t i = 0; i < norva::kParamCount; ++i) values[i] = norva::NORVA_PARAMS[i].defaultPlain;
  }
};

std::string write(int32_t variation = -1, const norva::CcMap *map = nullptr,
                  SamplerAssetDiagnostic fault = SamplerAssetDiagnostic::none,
                  SamplerZoneProgram program = SamplerZoneProgram::legacySingleZone,
                  const BankStateRefOut *bank = nullptr, const norva::SamplerPadOverrides *pads = nullptr,
                  const norva::AuthoredStateOut *authored = nullptr) {
  return norva::writeStateJson(Defaults().values, variation, map, fault, program, bank, pads, authored);
}

// The text after the params object (as write() gives it), without the closing brace.
std::string tail(const std::string &text) {
  const std::string params = write();
  EXPECT_EQ(text.compare(0, params.size() - 1, params, 0, params.size() - 1), 0);
  return text.substr(params.size() - 1, text.size() - params.size());
}

bool parse(const std::string &text, StateChunk &out) { return norva::parseStateJson(text.data(), text.size(), out); }

StateChunk parsed(const std::string &text) {
  StateChunk chunk;
  EXPECT_TRUE(parse(text, chunk)) << text.substr(0, 200);
  return chunk;
}

int presentCount(const StateChunk &chunk) {
  int n = 0;
  for (bool p : chunk.present) n += p;
  return n;
}

TEST(StateDocument, WrittenFormWithEveryPart) {
  // Every parameter by key, in catalogue order, reads back as written.
  const std::string params = write();
  EXPECT_EQ(params.rfind(R"({"params":{"tindrel.run":1,"tindrel.bpm":120,"tindrel.resolution":3,)", 0), 0u);
  const std::string ending = R"("tindrel.g32":60,"tindrel.followHost":0,"tindrel.bypass":0}})";
  EXPECT_EQ(params.substr(params.size() - ending.size()), ending);
  const StateChunk back = parsed(params);
  EXPECT_EQ(presentCount(back), int(norva::kParamCount));
  EXPECT_TRUE(std::equal(std::begin(back.values), std::end(back.values), Defaults().values));

  norva::CcMap map;
  map.bindings[0] = {.paramIndex = kParamBpm, .cc = 7};
  map.count = 1;
  const norva::SamplerPadOverrides pads = {{.key = "kick", .mask = norva::kPadGain, .gain = 0.5}};
  const BankStateRefOut bank{R"(b"1)", "2.0", "ab", "hosted", "p", "i", "/x"};
  const uint8_t bytes[] = {1, 2, 3};
  const norva::AuthoredStateOut authored{bytes, 3, 7};
  EXPECT_EQ(tail(write(5, &map, SamplerAssetDiagnostic::movedInMemoryAsset, SamplerZoneProgram::voiceLimitSteal,
                       &bank, &pads, &authored)),
            R"(,"variation":5,"ccMap":{"version":1,"bindings":[{"cc":7,"path":"tindrel.bpm"}]},)"
            R"("samplerAssetFault":"moved-in-memory-asset","samplerZoneAbi":"norva-dual-stack-sampler/zone-layer/v1",)"
            R"("samplerZoneVersion":1,"samplerZoneProgram":"voice-limit-steal",)"
            R"("sampler":{"v":1,"pads":{"kick":{"gain":0.5}}},"bank":{"version":1,"id":"b\"1","bankVersion":"2.0",)"
            R"("sha256":"ab","locator":"/x","source":"hosted","instrument":"i","presetId":"p"},)"
            R"("authoredState":{"v":7,"bytes":"AQID"})");
}

TEST(StateDocument, WrittenFormOfOptionalParts) {
  const norva::SamplerPadOverrides noPads;
  const uint8_t byte = 9;
  const norva::AuthoredStateOut noBytes{nullptr, 4, 1}, zeroCount{&byte, 0, 1};
  const BankStateRefOut noId{"", "v", "s", "hosted", "p", "i", "l"}, nullId{nullptr}, onlyId{"x"};
  const std::pair<std::string, const char *> cases[] = {
      {write(0), R"(,"variation":0)"}, {write(INT32_MAX), R"(,"variation":2147483647)"},
      {write(-7, nullptr, static_cast<SamplerAssetDiagnostic>(0x53410006)), R"(,"samplerAssetFault":"none")"},
      {write(-1, nullptr, SamplerAssetDiagnostic::none, static_cast<SamplerZoneProgram>(8)),
       R"(,"samplerZoneAbi":"norva-dual-stack-sampler/zone-layer/v1","samplerZoneVersion":1,)"
       R"("samplerZoneProgram":"legacy-single-zone")"},
      {write(-1, nullptr, {}, {}, &onlyId), R"(,"bank":{"version":1,"id":"x","source":"embedded"})"},
      {write(-1, nullptr, {}, {}, &noId, &noPads, &noBytes), ""},
      {write(-1, nullptr, {}, {}, &nullId, nullptr, &zeroCount), ""},
  };
  for (const auto &[text, expected] : cases) EXPECT_EQ(tail(text), expected);
}

TEST(StateDocument, Refusals) {
  const auto nested = [](const char *open, int levels, const char *close) {
    return open + std::string(levels, '[') + std::string(levels, ']') + close;
  };
  const std::pair<std::string, bool> cases[] = {
      // Trailing text, arrays, params as an array, "tru" and a string variation
      // are `norva-probe validate`'s "bad state documents".
      {" {} \n\r\t", true}, {"", false}, {R"({"params":{}}})", false}, {R"({"samplerZoneProgram":null})", false},
      {R"({"sampler":{"v":1,"pads":[]}})", false},
      {R"({"authoredState":{"v":true}})", false}, {R"({"bank":{"id":"x","locator":"unterminated}})", false},
      {R"({"ccMap":{"bindings":[{"path":"tindrel.bpm","curve":2}]}})", false},
      // Sections of an unexpected type are skipped, not refused.
      {R"({"sampler":7,"authoredState":"x","bank":[1],"ccMap":"y","samplerZoneAbi":3,"samplerZoneVersion":{}})",
       true},
      // Nesting stops at 32 levels, counted from the document.
      {nested(R"({"x":)", 32, "}"), true}, {nested(R"({"x":)", 33, "}"), false},
      {nested(R"({"params":{"tindrel.bpm":)", 31, "}}"), true},
      {nested(R"({"params":{"tindrel.bpm":)", 32, "}}"), false},
      {nested(R"({"bank":{"id":"x","y":)", 31, "}}"), true}, {nested(R"({"bank":{"id":"x","y":)", 32, "}}"), false},
  };
  for (const auto &[text, ok] : cases) {
    StateChunk chunk;
    EXPECT_EQ(parse(text, chunk), ok) << text;
  }
  StateChunk chunk;
  EXPECT_FALSE(norva::parseStateJson(nullptr, 0, chunk));
}

TEST(StateDocument, ParameterValues) {
  const StateChunk empty = parsed("{}");
  EXPECT_EQ(presentCount(empty), 0);
  EXPECT_EQ(empty.variation, -1);
  EXPECT_FALSE(empty.hasCcMap || empty.hasSamplerAssetFault || empty.hasSamplerZoneProgram || empty.hasPads ||
               empty.hasAuthoredState || empty.hasBankRef || empty.hasBankLocator || empty.hasBankPresetId);

  const struct { const char *value; bool present; double stored; } cases[] = {
      {"400", true, 400.0}, // kept as written; clamping belongs to normalising
      {"true", true, 1.0},  {"+0x10", true, 16.0}, {R"("140")", false, 0}, {"[1,[2]]", false, 0},
      {"nan", false, 0},    {"-inf", false, 0},    {"90,\"tindrel.bpm\":\"x\"", true, 90.0},
      {"90,\"tindrel.bpm\":80", true, 80.0},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"params":{"tindrel.bpm":)") + c.value + "}}");
    EXPECT_EQ(chunk.present[kParamBpm], c.present) << c.value;
    EXPECT_EQ(chunk.values[kParamBpm], c.stored) << c.value;
    EXPECT_EQ(presentCount(chunk), c.present ? 1 : 0) << c.value;
  }
  const StateChunk unknown =
      parsed(R"({"params":{"tindrel.BPM":1,"tindrel.g33":true,"":2},"params":{"tindrel.g32":5}})");
  EXPECT_EQ(presentCount(unknown), 1) << "unknown ids dropped; a second params object adds to the first";
  EXPECT_EQ(unknown.values[52], 5.0);
}

// Integers read from numbers truncate toward zero and stop at the limits of
// int32; NaN names no integer and is ignored.
TEST(StateDocument, IntegerFieldsSaturate) {
  const struct { const char *number; int32_t variation, version; } cases[] = {
      {"2.9", 2, 2}, {"-2.9", -2, -2}, {"nan", -1, 0}, {"2147483647.5", INT32_MAX, INT32_MAX},
      {"1e10", INT32_MAX, INT32_MAX}, {"inf", INT32_MAX, INT32_MAX}, {"-1e300", INT32_MIN, INT32_MIN},
      {"-2147483648.9", INT32_MIN, INT32_MIN},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"variation":)") + c.number + R"(,"authoredState":{"v":)" +
                                    c.number + R"(,"bytes":"AA=="}})");
    EXPECT_EQ(chunk.variation, c.variation) << c.number;
    EXPECT_EQ(chunk.authoredVersion, c.version) << c.number;
  }
  EXPECT_EQ(parsed(R"({"variation":4,"variation":nan})").variation, 4);
}

TEST(StateDocument, SectionsCountOnlyWhenUsable) {
  const struct { const char *section; bool has; uint32_t count; } ccMaps[] = {
      {"{}", false, 0}, {R"({"version":1})", false, 0}, {"[]", true, 0},
      {R"({"bindings":[{"cc":3,"path":"tindrel.run"},{"cc":3}]})", true, 1},
      {R"([{"cc":3,"path":"tindrel.run"}],"ccMap":{})", true, 1},
  }, samplers[] = {  // pads only from version 1
      {R"({"v":1,"pads":{"a":{"gain":2}}})", true, 1}, {R"({"pads":{"a":{"gain":2}},"v":1.0})", true, 1},
      {R"({"v":2,"pads":{"a":{"gain":2}}})", false, 0}, {R"({"pads":{"a":{"gain":2}}})", false, 0},
      {R"({"v":1})", false, 0}, {R"({"v":1,"pads":{"a":{"gain":2}},"v":nan})", false, 0},
  };
  for (const auto &c : ccMaps) {
    const StateChunk chunk = parsed(std::string(R"({"ccMap":)") + c.section + "}");
    EXPECT_EQ(chunk.hasCcMap, c.has) << c.section;
    EXPECT_EQ(chunk.ccMap.count, c.count) << c.section;
  }
  for (const auto &c : samplers) {
    const StateChunk chunk = parsed(std::string(R"({"sampler":)") + c.section + "}");
    EXPECT_EQ(chunk.hasPads, c.has) << c.section;
    EXPECT_EQ(chunk.pads.size(), c.count) << c.section;
  }
}

TEST(StateDocument, SamplerFaultAndZoneProgram) {
  StateChunk chunk =
      parsed(R"({"samplerAssetFault":"unsupported-stereo-source","samplerZoneProgram":"key-zones-pitch"})");
  EXPECT_TRUE(chunk.hasSamplerAssetFault && chunk.hasSamplerZoneProgram);
  EXPECT_EQ(chunk.samplerAssetFault, SamplerAssetDiagnostic::unsupportedStereoSource);
  EXPECT_EQ(chunk.samplerZoneProgram, SamplerZoneProgram::keyZonesPitch);

  chunk = parsed(R"({"samplerAssetFault":"corrupt-in-memory-asset","samplerAssetFault":"Corrupt-in-memory-asset",)"
                 R"("samplerZoneProgram":"one-shot-drum","samplerZoneProgram":"two-shot-drum"})");
  EXPECT_FALSE(chunk.hasSamplerAssetFault) << "an unknown fault name clears the fault";
  EXPECT_EQ(chunk.samplerAssetFault, SamplerAssetDiagnostic::none);
  EXPECT_EQ(chunk.samplerZoneProgram, SamplerZoneProgram::oneShotDrum) << "an unknown program name is ignored";
  EXPECT_FALSE(parsed(R"({"samplerZoneProgram":"Key-zones-pitch"})").hasSamplerZoneProgram);
}

TEST(StateDocument, AuthoredBytesLimit) {
  const auto document = [](size_t bytes) {
    std::string text;
    const std::vector<uint8_t> data(bytes, 0xA5);
    norva::base64Append(text, data.data(), data.size());
    return R"({"authoredState":{"bytes":")" + text + R"("}})";
  };
  StateChunk chunk = parsed(document(norva::kMaxAuthoredStateBytes));
  EXPECT_TRUE(chunk.hasAuthoredState);
  EXPECT_EQ(chunk.authoredBytes.size(), norva::kMaxAuthoredStateBytes);
  EXPECT_EQ(chunk.authoredVersion, 0);
  EXPECT_FALSE(parsed(document(norva::kMaxAuthoredStateBytes + 1)).hasAuthoredState);

  for (const char *section : {R"({"v":3,"bytes":"AQI"})", R"({"v":3,"bytes":""})", R"({"v":3,"bytes":12})",
                              R"({"v":3,"bytes":"AQ==","bytes":"A Q="})"}) {
    EXPECT_FALSE(parsed(std::string(R"({"authoredState":)") + section + "}").hasAuthoredState) << section;
  }
  chunk = parsed(R"({"authoredState":{"v":3,"bytes":"AQI=","bytes":7}})");
  EXPECT_EQ(chunk.authoredBytes, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(chunk.authoredVersion, 3);
}

// Each text is taken when it fits its field with the terminating NUL, and
// left empty otherwise; the id decides whether the section counts at all.
TEST(StateDocument, BankReference) {
  const auto bank = [](size_t extra) {
    const auto member = [extra](const char *key, size_t longest) {
      return std::string(",\"") + key + "\":\"" + std::string(longest + extra, 'v') + "\"";
    };
    return parsed(R"({"bank":{"id":"b")" + member("bankVersion", 31) + member("sha256", 64) +
                  member("presetId", 63) + member("instrument", 63) + member("locator", 1023) + "}}");
  };
  const StateChunk fits = bank(0), over = bank(1);
  const auto full = [](const auto &field) { return std::strlen(field) + 1 == sizeof field; };
  EXPECT_TRUE(full(fits.bankVersion) && full(fits.bankSha256) && full(fits.bankPresetId) &&
              full(fits.bankInstrument) && full(fits.bankLocator));
  EXPECT_TRUE(fits.hasBankRef && fits.hasBankLocator && fits.hasBankPresetId && over.hasBankRef);
  EXPECT_FALSE(over.hasBankLocator || over.hasBankPresetId);
  for (const char *text : {over.bankVersion, over.bankSha256, over.bankPresetId, over.bankInstrument,
                           over.bankLocator})
    EXPECT_STREQ(text, "");

  const std::string id127(127, 'i');
  EXPECT_EQ(std::string(parsed(R"({"bank":{"id":")" + id127 + R"("}})").bankId), id127);
  for (const std::string &bad : {R"({"id":")" + id127 + R"(i"})", std::string(R"({"id":""})"),
                                std::string(R"({"id":7,"source":"hosted"})")}) {
    const StateChunk chunk = parsed(R"({"bank":{"id":"first","locator":"/a"},"bank":)" + bad + "}");
    EXPECT_STREQ(chunk.bankId, "first") << "an unusable section leaves the earlier one: " << bad;
    EXPECT_STREQ(chunk.bankLocator, "/a");
  }

  const StateChunk replaced =
      parsed(R"({"bank":{"id":"a","locator":"/a","presetId":"p","source":"hosted"},)"
             R"("bank":{"id":"b","version":9,"source":"Hosted","instrument":5}})");
  EXPECT_STREQ(replaced.bankId, "b");
  EXPECT_STREQ(replaced.bankSource, "") << "an unknown source keeps the reference with no source";
  EXPECT_STREQ(replaced.bankLocator, "");
  EXPECT_FALSE(replaced.hasBankLocator || replaced.hasBankPresetId);
  EXPECT_TRUE(replaced.hasBankRef);

  uint32_t index = 77;
  EXPECT_EQ(norva::resolveBankStateRef(StateChunk{}, index), norva::BankStateRefOutcome::none);
  EXPECT_EQ(norva::resolveBankStateRef(replaced, index), norva::BankStateRefOutcome::notInBuild);
  EXPECT_EQ(index, 77u);
  for (const char *source : {"embedded", "module-relative", "user-folder", "hosted", "hosted "}) {
    const std::string kept = std::string(source) == "hosted " ? "" : source;
    EXPECT_EQ(parsed(std::string(R"({"bank":{"id":"b","source":")") + source + R"("}})").bankSource, kept);
  }
}

}  // namespace
