// The state document: its exact written form, what each section reads into
// the chunk, the limits on texts and authored bytes, the integers that must
// stop at their type's limits, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/state_document.h"

namespace {

using norva::BankStateRefOut;
using norva::SamplerAssetDiagnostic;
using norva::SamplerZoneProgram;
using norva::StateChunk;

constexpr size_t kBpm = 1;

// The catalogue's default plain values, as written.
const std::string kDefaultParams =
    R"({"params":{"tindrel.run":1,"tindrel.bpm":120,"tindrel.resolution":3,"tindrel.shuffle":0.5,)"
    R"("tindrel.gateScale":1,"tindrel.velocityScale":1,"tindrel.transpose":0,"tindrel.octave":1,)"
    R"("tindrel.direction":0,"tindrel.pattern":0,"tindrel.length":16,"tindrel.chainOn":0,"tindrel.chainStart":0,)"
    R"("tindrel.chainEnd":7,"tindrel.curveCc":1,"tindrel.curveBipolar":0,"tindrel.keyRoot":0,)"
    R"("tindrel.scaleMask":4095,"tindrel.keyFollow":0,"tindrel.seed":0,"tindrel.channel":0,)"
    R"("tindrel.g1":100,"tindrel.g2":60,"tindrel.g3":0,"tindrel.g4":60,"tindrel.g5":100,"tindrel.g6":60,)"
    R"("tindrel.g7":0,"tindrel.g8":60,"tindrel.g9":100,"tindrel.g10":60,"tindrel.g11":0,"tindrel.g12":60,)"
    R"("tindrel.g13":100,"tindrel.g14":60,"tindrel.g15":0,"tindrel.g16":60,"tindrel.g17":100,"tindrel.g18":60,)"
    R"("tindrel.g19":0,"tindrel.g20":60,"tindrel.g21":100,"tindrel.g22":60,"tindrel.g23":0,"tindrel.g24":60,)"
    R"("tindrel.g25":100,"tindrel.g26":60,"tindrel.g27":0,"tindrel.g28":60,"tindrel.g29":100,"tindrel.g30":60,)"
    R"("tindrel.g31":0,"tindrel.g32":60})";

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

// The text after the params object, without the closing brace.
std::string tail(const std::string &text) {
  EXPECT_EQ(text.compare(0, kDefaultParams.size(), kDefaultParams), 0);
  return text.substr(kDefaultParams.size(), text.size() - kDefaultParams.size() - 1);
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
  EXPECT_EQ(write(), kDefaultParams + "}");

  norva::CcMap map;
  map.bindings[0].paramIndex = kBpm;
  map.bindings[0].cc = 7;
  map.count = 1;
  norva::SamplerPadOverride pad;
  pad.key = "kick";
  pad.mask = norva::kPadGain;
  pad.gain = 0.5;
  const norva::SamplerPadOverrides pads = {pad};
  const BankStateRefOut bank{R"(b"1)", "2.0", "ab", "hosted", "p", "i", "/x"};
  const uint8_t bytes[] = {1, 2, 3};
  const norva::AuthoredStateOut authored{bytes, 3, 7};
  EXPECT_EQ(tail(write(5, &map, SamplerAssetDiagnostic::movedInMemoryAsset, SamplerZoneProgram::voiceLimitSteal,
                       &bank, &pads, &authored)),
            R"(,"variation":5,"ccMap":{"version":1,"bindings":[{"cc":7,"path":"tindrel.bpm"}]},)"
            R"("samplerAssetFault":"moved-in-memory-asset","samplerZoneAbi":"norva-dual-stack-sampler/zone-layer/v1",)"
            R"("samplerZoneVersion":1,"samplerZoneProgram":"voice-limit-steal","sampler":{"v":1,"pads":{"kick":{"gain":0.5}}},)"
            R"("bank":{"version":1,"id":"b\"1","bankVersion":"2.0","sha256":"ab","locator":"/x","source":"hosted",)"
            R"("instrument":"i","presetId":"p"},"authoredState":{"v":7,"bytes":"AQID"})");
}

TEST(StateDocument, WrittenFormOfOptionalParts) {
  const norva::SamplerPadOverrides noPads;
  const uint8_t byte = 9;
  const norva::AuthoredStateOut noBytes{nullptr, 4, 1};
  const norva::AuthoredStateOut zeroCount{&byte, 0, 1};
  const BankStateRefOut noId{"", "v", "s", "hosted", "p", "i", "l"};
  const BankStateRefOut nullId{nullptr};
  const BankStateRefOut onlyId{"x"};
  const struct {
    std::string text;
    const char *tail;
  } cases[] = {
      {write(0), R"(,"variation":0)"},
      {write(INT32_MAX), R"(,"variation":2147483647)"},
      {write(-7, nullptr, static_cast<SamplerAssetDiagnostic>(0x53410006)), R"(,"samplerAssetFault":"none")"},
      {write(-1, nullptr, SamplerAssetDiagnostic::none, static_cast<SamplerZoneProgram>(8)),
       R"(,"samplerZoneAbi":"norva-dual-stack-sampler/zone-layer/v1","samplerZoneVersion":1,)"
       R"("samplerZoneProgram":"legacy-single-zone")"},
      {write(-1, nullptr, {}, {}, &onlyId), R"(,"bank":{"version":1,"id":"x","source":"embedded"})"},
      {write(-1, nullptr, {}, {}, &noId, &noPads, &noBytes), ""},
      {write(-1, nullptr, {}, {}, &nullId, nullptr, &zeroCount), ""},
  };
  for (const auto &c : cases) EXPECT_EQ(tail(c.text), c.tail);

  Defaults odd;
  odd.values[kBpm] = std::nan("");
  odd.values[2] = std::numeric_limits<double>::infinity();
  const std::string text = norva::writeStateJson(odd.values, -1, nullptr, {}, {}, nullptr, nullptr, nullptr);
  EXPECT_NE(text.find(R"("tindrel.bpm":null,"tindrel.resolution":null,)"), std::string::npos);
  const StateChunk back = parsed(text);
  EXPECT_FALSE(back.present[kBpm]);
  EXPECT_FALSE(back.present[2]);
  EXPECT_EQ(presentCount(back), 51);
}

TEST(StateDocument, Refusals) {
  const auto nested = [](const char *open, int levels, const char *close) {
    std::string text = open;
    text += std::string(levels, '[') + std::string(levels, ']');
    return text + close;
  };
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {" {} \n\r\t", true},
      {"{}x", false},
      {"", false},
      {"[]", false},
      {R"({"params":{}}})", false},
      {R"({"params":[]})", false},
      {R"({"params":{"tindrel.bpm":tru}})", false},
      {R"({"params":{"tindrel.bpm":truex}})", false},
      {R"({"params":{"tindrel.nope":fals}})", false},
      {R"({"variation":"3"})", false},
      {R"({"samplerAssetFault":1})", false},
      {R"({"samplerZoneProgram":null})", false},
      {R"({"sampler":{"v":"1"}})", false},
      {R"({"sampler":{"v":1,"pads":[]}})", false},
      {R"({"authoredState":{"v":true}})", false},
      {R"({"ccMap":{"bindings":[{"path":"tindrel.bpm","curve":2}]}})", false},
      {R"({"bank":{"id":"x","locator":"unterminated}})", false},
      {R"({"sampler":7,"authoredState":"x","bank":[1],"ccMap":"y","samplerZoneAbi":3,"samplerZoneVersion":{}})",
       true},
      {nested(R"({"x":)", 32, "}"), true},
      {nested(R"({"x":)", 33, "}"), false},
      {nested(R"({"params":{"tindrel.bpm":)", 31, "}}"), true},
      {nested(R"({"params":{"tindrel.bpm":)", 32, "}}"), false},
      {nested(R"({"bank":{"id":"x","y":)", 31, "}}"), true},
      {nested(R"({"bank":{"id":"x","y":)", 32, "}}"), false},
  };
  for (const auto &c : cases) {
    StateChunk chunk;
    EXPECT_EQ(parse(c.text, chunk), c.ok) << c.text;
  }
  StateChunk chunk;
  EXPECT_FALSE(norva::parseStateJson(nullptr, 0, chunk));
}

TEST(StateDocument, EmptyAndTempoOnlyDocuments) {
  const StateChunk empty = parsed("{}");
  EXPECT_EQ(presentCount(empty), 0);
  EXPECT_EQ(empty.variation, -1);
  EXPECT_FALSE(empty.hasCcMap || empty.hasSamplerAssetFault || empty.hasSamplerZoneProgram || empty.hasPads ||
               empty.hasAuthoredState || empty.hasBankRef || empty.hasBankLocator || empty.hasBankPresetId);

  const StateChunk tempo = parsed(R"({"params":{"tindrel.bpm":400}})");
  EXPECT_EQ(presentCount(tempo), 1);
  EXPECT_TRUE(tempo.present[kBpm]);
  EXPECT_EQ(tempo.values[kBpm], 400.0) << "kept as written; clamping belongs to normalising";
  EXPECT_FALSE(tempo.hasCcMap || tempo.hasPads || tempo.hasBankRef || tempo.hasAuthoredState);
}

TEST(StateDocument, ParameterValues) {
  const struct {
    const char *value;
    bool present;
    double stored;
  } cases[] = {
      {"true", true, 1.0},    {"false", true, 0.0}, {"-1e300", true, -1e300}, {"+0x10", true, 16.0},
      {R"("140")", false, 0}, {"null", false, 0},   {"{}", false, 0},         {"[1,[2]]", false, 0},
      {"90,\"tindrel.bpm\":\"x\"", true, 90.0},     {"90,\"tindrel.bpm\":80", true, 80.0},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"params":{"tindrel.bpm":)") + c.value + "}}");
    EXPECT_EQ(chunk.present[kBpm], c.present) << c.value;
    EXPECT_EQ(chunk.values[kBpm], c.stored) << c.value;
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
  const struct {
    const char *number;
    int32_t variation;
    int32_t version;
  } cases[] = {
      {"2.9", 2, 2},
      {"-2.9", -2, -2},
      {"2147483647.5", INT32_MAX, INT32_MAX},
      {"1e10", INT32_MAX, INT32_MAX},
      {"inf", INT32_MAX, INT32_MAX},
      {"-1e300", INT32_MIN, INT32_MIN},
      {"-2147483648.9", INT32_MIN, INT32_MIN},
      {"nan", -1, 0},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"variation":)") + c.number + R"(,"authoredState":{"v":)" +
                                    c.number + R"(,"bytes":"AA=="}})");
    EXPECT_EQ(chunk.variation, c.variation) << c.number;
    EXPECT_EQ(chunk.authoredVersion, c.version) << c.number;
  }
  EXPECT_EQ(parsed(R"({"variation":4,"variation":nan})").variation, 4);
}

TEST(StateDocument, CcMapSection) {
  const struct {
    const char *map;
    bool has;
    uint32_t count;
  } cases[] = {
      {"{}", false, 0},
      {R"({"version":1})", false, 0},
      {"[]", true, 0},
      {R"({"bindings":[{"cc":3,"path":"tindrel.run"},{"cc":3}]})", true, 1},
      {R"([{"cc":3,"path":"tindrel.run"}],"ccMap":{})", true, 1},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"ccMap":)") + c.map + "}");
    EXPECT_EQ(chunk.hasCcMap, c.has) << c.map;
    EXPECT_EQ(chunk.ccMap.count, c.count) << c.map;
  }
}

TEST(StateDocument, SamplerFaultAndZoneProgram) {
  StateChunk chunk = parsed(R"({"samplerAssetFault":"unsupported-stereo-source","samplerZoneProgram":"key-zones-pitch"})");
  EXPECT_TRUE(chunk.hasSamplerAssetFault);
  EXPECT_EQ(chunk.samplerAssetFault, SamplerAssetDiagnostic::unsupportedStereoSource);
  EXPECT_TRUE(chunk.hasSamplerZoneProgram);
  EXPECT_EQ(chunk.samplerZoneProgram, SamplerZoneProgram::keyZonesPitch);

  chunk = parsed(R"({"samplerAssetFault":"corrupt-in-memory-asset","samplerAssetFault":"Corrupt-in-memory-asset",)"
                 R"("samplerZoneProgram":"one-shot-drum","samplerZoneProgram":"two-shot-drum"})");
  EXPECT_FALSE(chunk.hasSamplerAssetFault) << "an unknown fault name clears the fault";
  EXPECT_EQ(chunk.samplerAssetFault, SamplerAssetDiagnostic::none);
  EXPECT_EQ(chunk.samplerZoneProgram, SamplerZoneProgram::oneShotDrum) << "an unknown program name is ignored";

  const char *programs[] = {"legacy-single-zone", "one-shot-drum",    "looped-pad-release", "velocity-round-robin",
                            "key-zones-pitch",    "stereo-multi-mic", "choke-and-sustain",  "voice-limit-steal"};
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(norva::samplerZoneProgramNameKnown(programs[i]));
    EXPECT_EQ(norva::samplerZoneProgramFromName(programs[i]), static_cast<SamplerZoneProgram>(i));
  }
  for (const char *name : {"Voice-limit-steal", "", static_cast<const char *>(nullptr)}) {
    EXPECT_FALSE(norva::samplerZoneProgramNameKnown(name));
    EXPECT_EQ(norva::samplerZoneProgramFromName(name), SamplerZoneProgram::legacySingleZone);
  }
}

TEST(StateDocument, SamplerPadsOnlyFromVersionOne) {
  const struct {
    const char *section;
    bool has;
  } cases[] = {
      {R"({"v":1,"pads":{"a":{"gain":2}}})", true},
      {R"({"pads":{"a":{"gain":2}},"v":1.0})", true},
      {R"({"v":2,"pads":{"a":{"gain":2}}})", false},
      {R"({"pads":{"a":{"gain":2}}})", false},
      {R"({"v":1})", false},
      {R"({"v":1,"pads":{"a":{"gain":2}},"v":nan})", false},
  };
  for (const auto &c : cases) {
    const StateChunk chunk = parsed(std::string(R"({"sampler":)") + c.section + "}");
    EXPECT_EQ(chunk.hasPads, c.has) << c.section;
    ASSERT_EQ(chunk.pads.size(), c.has ? 1u : 0u) << c.section;
  }
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
TEST(StateDocument, BankReferenceTextLimits) {
  const auto bank = [](size_t extra) {
    const auto member = [extra](const char *key, size_t longest) {
      return std::string(",\"") + key + "\":\"" + std::string(longest + extra, 'v') + "\"";
    };
    return parsed(R"({"bank":{"id":"b")" + member("bankVersion", 31) + member("sha256", 64) +
                  member("presetId", 63) + member("instrument", 63) + member("locator", 1023) + "}}");
  };
  const StateChunk fits = bank(0);
  EXPECT_EQ(std::strlen(fits.bankVersion) + 1, sizeof fits.bankVersion);
  EXPECT_EQ(std::strlen(fits.bankSha256) + 1, sizeof fits.bankSha256);
  EXPECT_EQ(std::strlen(fits.bankPresetId) + 1, sizeof fits.bankPresetId);
  EXPECT_EQ(std::strlen(fits.bankInstrument) + 1, sizeof fits.bankInstrument);
  EXPECT_EQ(std::strlen(fits.bankLocator) + 1, sizeof fits.bankLocator);
  EXPECT_TRUE(fits.hasBankRef && fits.hasBankLocator && fits.hasBankPresetId);
  const StateChunk over = bank(1);
  EXPECT_TRUE(over.hasBankRef);
  EXPECT_FALSE(over.hasBankLocator || over.hasBankPresetId);
  for (const char *text : {over.bankVersion, over.bankSha256, over.bankPresetId, over.bankInstrument, over.bankLocator})
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
  for (const char *source : {"embedded", "module-relative", "user-folder", "hosted"}) {
    EXPECT_TRUE(norva::bankSourceNameKnown(source));
    EXPECT_STREQ(parsed(std::string(R"({"bank":{"id":"b","source":")") + source + R"("}})").bankSource, source);
  }
  EXPECT_FALSE(norva::bankSourceNameKnown(nullptr));
  EXPECT_FALSE(norva::bankSourceNameKnown("hosted "));
}

TEST(StateDocument, RoundTrip) {
  Defaults d;
  d.values[kBpm] = 133.25;
  d.values[3] = 0.6;
  norva::CcMap map;
  map.bindings[0].paramIndex = 52;
  map.bindings[0].cc = 120;
  map.bindings[0].channel = 16;
  map.count = 1;
  norva::SamplerPadOverride pad;
  pad.key = "snare";
  pad.mask = norva::kPadTranspose | norva::kPadMuted;
  pad.transpose = -12;
  pad.muted = 1;
  const norva::SamplerPadOverrides pads = {pad};
  const std::string sha256(64, 'f');
  const BankStateRefOut bank{"id", "1.2.3", sha256.c_str(), "", "preset", "inst", "/banks/x"};
  std::vector<uint8_t> bytes(7265);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
  const norva::AuthoredStateOut authored{bytes.data(), bytes.size(), 1};
  const std::string text = norva::writeStateJson(d.values, 12, &map, SamplerAssetDiagnostic::changedInMemoryAsset,
                                                 SamplerZoneProgram::stereoMultiMic, &bank, &pads, &authored);

  // Saving what was read gives the same text, every part included.
  const StateChunk c = parsed(text);
  EXPECT_EQ(presentCount(c), 53);
  EXPECT_TRUE(c.hasCcMap && c.hasSamplerAssetFault && c.hasSamplerZoneProgram && c.hasPads && c.hasAuthoredState &&
              c.hasBankRef && c.hasBankLocator && c.hasBankPresetId);
  EXPECT_STREQ(c.bankSource, "embedded");
  const BankStateRefOut readBank{c.bankId,       c.bankVersion,    c.bankSha256, c.bankSource,
                                 c.bankPresetId, c.bankInstrument, c.bankLocator};
  const norva::AuthoredStateOut readAuthored{c.authoredBytes.data(), c.authoredBytes.size(),
                                             static_cast<uint32_t>(c.authoredVersion)};
  EXPECT_EQ(norva::writeStateJson(c.values, c.variation, &c.ccMap, c.samplerAssetFault, c.samplerZoneProgram,
                                  &readBank, &c.pads, &readAuthored),
            text);
}

}  // namespace
