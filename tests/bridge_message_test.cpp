// The bridge protocol: what an inbound text parses to (or why it is refused)
// and the outbound layouts byte for byte. fuzz/fuzz_bridge_message.cpp runs
// the parser on arbitrary bytes.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "identity/plugin_ids.h"
#include "strict_json.h"

namespace {

using namespace norva;

bool parses(const std::string &text, BridgeMessage &out) { return parseBridgeMessage(text.data(), text.size(), out); }

std::string nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(BridgeParse, MalformedTextsAreRefused) {
  const struct {
    const char *name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"not an object", "[1]"},
      {"value as a string", R"({"type":"norva.setParam","path":"tindrel.bpm","value":"120"})"},
      {"trailing text", R"({"type":"norva.ready"} x)"},
      {"a second object", R"({"type":"norva.ready"}{})"},
      {"trailing comma", R"({"type":"norva.ready",})"},
      {"missing colon", R"({"type" "norva.ready"})"},
      {"type not a string", R"({"type":1})"},
      {"path null", R"({"path":null})"},
      {"note as a string", R"({"note":"60"})"},
      {"velocity true", R"({"velocity":true})"},
      {"hz as a string", R"({"hz":"30"})"},
      {"feeds element not a string", R"({"feeds":["host",1]})"},
      {"feeds trailing comma", R"({"feeds":["host",]})"},
      {"stimulus kind not a string", R"({"stimulus":{"kind":5}})"},
      {"nested too deep", R"({"x":)" + nested(33) + "}"},
      {"nested too deep in the stimulus", R"({"stimulus":{"x":)" + nested(32) + "}}"},
      {"state member of the wrong kind", R"({"state":{"variation":"two"}})"},
      {"state malformed", R"({"state":{"params":{"tindrel.bpm":1,}}})"},
      {"map binding path not a string", R"({"map":[{"path":5,"cc":1}]})"},
      {"map malformed", R"({"map":{"bindings":[}})"},
      {"pads malformed", R"({"pads":{"kick":{"gain":1,}}})"},
  };
  for (const auto &c : cases) {
    BridgeMessage message;
    EXPECT_FALSE(parses(c.text, message)) << c.name;
  }
  BridgeMessage message;
  EXPECT_FALSE(parseBridgeMessage(nullptr, 0, message));
}

TEST(BridgeParse, MembersByKind) {
  BridgeMessage empty;
  ASSERT_TRUE(parses(" {} ", empty));
  EXPECT_EQ(empty.type, "");
  EXPECT_FALSE(empty.hasValue || empty.hasState || empty.hasMap || empty.hasPads);

  BridgeMessage set;
  ASSERT_TRUE(parses(R"({"type":"norva.setParam","path":"tindrel.bpm","value":140,"extra":{"a":[1,{"b":null}]}})",
                     set));
  EXPECT_EQ(set.type, kBridgeSetParam);
  EXPECT_EQ(set.path, "tindrel.bpm");
  EXPECT_TRUE(set.hasValue);
  EXPECT_EQ(set.value, 140.0);
  EXPECT_EQ(set.diagnosticCommand, DiagnosticCommand::none);

  BridgeMessage bank;
  ASSERT_TRUE(parses(R"({"type":"norva.loadBank","source":"hosted","id":"kit","bankPath":"/b","instrument":"i",)"
                     R"("url":"https://x","sha256":"ab","note":60,"velocity":0.5})",
                     bank));
  const std::string texts = bank.source + bank.id + bank.bankPath + bank.instrument + bank.url + bank.sha256;
  EXPECT_EQ(texts, "hostedkit/bihttps://xab");
  EXPECT_EQ(bank.note, 60.0);
  EXPECT_EQ(bank.velocity, 0.5);

  BridgeMessage subscribe;
  ASSERT_TRUE(parses(R"({"type":"norva.diag.subscribe","feeds":["host","lifecycle","nope"],"hz":30})", subscribe));
  EXPECT_EQ(subscribe.feeds, 65u);
  EXPECT_EQ(subscribe.hz, 30.0);
  EXPECT_EQ(subscribe.diagnosticCommand, DiagnosticCommand::subscribe);

  BridgeMessage stimulus;
  ASSERT_TRUE(parses(R"({"type":"norva.diag.stimulus","stimulus":{"hz":[1,2],"kind":"sine"}})", stimulus));
  EXPECT_EQ(stimulus.stimulusKind, "sine");
  EXPECT_EQ(stimulus.diagnosticCommand, DiagnosticCommand::stimulus);
  EXPECT_EQ(stimulus.stimulus.frequencyHz, DiagnosticStimulusFact{}.frequencyHz);

  // Later keys replace earlier ones; an unknown member may nest 31 levels.
  BridgeMessage repeated;
  ASSERT_TRUE(parses(R"({"type":"x","type":"norva.diag.unsubscribe","feeds":["host"],"feeds":["clock"],)"
                     R"("value":1,"value":2,"deep":)" + nested(31) + "}",
                     repeated));
  EXPECT_EQ(repeated.diagnosticCommand, DiagnosticCommand::unsubscribe);
  EXPECT_EQ(repeated.feeds, uint32_t{kFeedClock});
  EXPECT_EQ(repeated.value, 2.0);
}

TEST(BridgeParse, NestedDocumentsAndMaps) {
  // Members of another kind than their reader takes are skipped.
  BridgeMessage skipped;
  ASSERT_TRUE(parses(R"({"type":"norva.setState","state":"{}","map":5,"pads":[],"feeds":"host","stimulus":1})",
                     skipped));
  EXPECT_FALSE(skipped.hasState || skipped.hasMap || skipped.hasPads);
  EXPECT_EQ(skipped.feeds, 0u);

  BridgeMessage state;
  ASSERT_TRUE(parses(R"({"state":{"params":{"tindrel.bpm":99},"variation":3,"ccMap":[]},"id":"after"})", state));
  EXPECT_TRUE(state.hasState);
  EXPECT_TRUE(state.state.present[kParamBpm]);
  EXPECT_EQ(state.state.values[kParamBpm], 99.0);
  EXPECT_EQ(state.state.variation, 3);
  EXPECT_TRUE(state.state.hasCcMap);
  EXPECT_EQ(state.id, "after");

  BridgeMessage list;
  ASSERT_TRUE(parses(R"({"map":[{"path":"tindrel.bpm","cc":7}]})", list));
  ASSERT_TRUE(list.hasMap);
  ASSERT_EQ(list.map.count, 1u);
  EXPECT_EQ(list.map.bindings[0].paramIndex, uint32_t{kParamBpm});
  EXPECT_EQ(list.map.bindings[0].cc, 7);

  BridgeMessage noBindings;
  ASSERT_TRUE(parses(R"({"map":{"version":1}})", noBindings));
  EXPECT_FALSE(noBindings.hasMap);

  BridgeMessage pads;
  ASSERT_TRUE(parses(R"({"pads":{"kick":{"gain":2}}})", pads));
  ASSERT_TRUE(pads.hasPads);
  ASSERT_EQ(pads.pads.size(), 1u);
  EXPECT_EQ(pads.pads[0].key, "kick");
  EXPECT_EQ(pads.pads[0].gain, 2.0);
}

TEST(BridgeParse, FeedNames) {
  const char *const names[] = {"host",     "transport", "midiIn", "midiOut", "meters", "scope",
                               "lifecycle", "counters", "params", "presets", "clock"};
  for (uint32_t i = 0; i < std::size(names); ++i) EXPECT_EQ(diagnosticFeedBit(names[i]), 1u << i) << names[i];
  EXPECT_EQ(diagnosticFeedBit("Host"), 0u);
  EXPECT_EQ(diagnosticFeedBit(std::string("host\0", 5)), 0u);
  EXPECT_EQ(diagnosticFeedBit(""), 0u);
}

TEST(BridgeParse, MalformedLine) {
  testing::internal::CaptureStderr();
  reportMalformedBridgeMessage(57);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "norva-plugin-shell: malformed bridge message (57 bytes)\n");
}

// The hello's tail, after the parameters and the empty preset list.
std::string helloTail(const BridgeHello &hello) {
  std::string out;
  writeBridgeHelloJson(out, hello);
  EXPECT_TRUE(strict::valid(out)) << out;
  const std::string marker = "\"factoryPresets\":[]";
  const size_t at = out.find(marker);
  return at == std::string::npos ? out : out.substr(at + marker.size());
}

TEST(BridgeOutbound, Hello) {
  BridgeHello hello;
  hello.plugin = {kModuleId, kPluginName, kVendorName, kPluginVersion};
  hello.normalized[kParamBpm] = 0.5;
  hello.identity = R"({"moduleId":"m"})";
  hello.presetState = R"({"factoryCount":0})";

  std::string bare;
  writeBridgeHelloJson(bare, hello);
  EXPECT_EQ(bare.rfind(R"({"type":"norva.hello","plugin":{"id":"music.norva.tindrel","name":"Tindrel",)"
                       R"("vendor":"Norva Music","version":"1.0.0"},"params":[{"path":"tindrel.run","value":0,)"
                       R"("normalized":0},{"path":"tindrel.bpm","value":160,"normalized":0.5},)",
                       0),
            0u)
      << bare;
  const std::string diagnostics = R"(,"diagnostics":{"feeds":[],"commands":[],"maxFeedHz":0})";
  const std::string presetState = R"(,"presetState":{"factoryCount":0}})";
  EXPECT_EQ(helloTail(hello), R"(,"identity":{"moduleId":"m"})" + diagnostics + presetState);

  HostFacts unknownRate;
  unknownRate.sampleRate = std::numeric_limits<double>::quiet_NaN();
  hello.host = &unknownRate;
  hello.identity = {};
  EXPECT_EQ(helloTail(hello), R"(,"identity":{})" + diagnostics + presetState);

  CcMap map;
  map.bindings[map.count++] = CcBinding{.paramIndex = kParamBpm, .cc = 7};
  HostFacts host;
  host.sampleRate = 48000;
  hello.ccMap = &map;
  hello.runtimeHealth = R"({"format":"h"})";
  hello.host = &host;
  std::string mapJson, hostJson;
  writeCcMapJson(mapJson, map);
  writeDiagnosticHostJson(hostJson, host);
  EXPECT_EQ(helloTail(hello), ",\"ccMap\":" + mapJson + R"(,"runtimeHealth":{"format":"h"},"identity":{})" +
                                  ",\"host\":" + hostJson + diagnostics + presetState);
}

TEST(BridgeOutbound, ParamStateAndReport) {
  const struct {
    uint32_t id;
    double normalized;
    const char *json;  // empty: nothing written
  } changes[] = {
      {kParamRun, 1, R"({"type":"norva.paramChanged","path":"tindrel.run","value":1,"normalized":1})"},
      {kParamTranspose, 0.25,
       R"({"type":"norva.paramChanged","path":"tindrel.transpose","value":-12,"normalized":0.25})"},
      {kParamCount - 1, 1, R"({"type":"norva.paramChanged","path":"tindrel.g32","value":127,"normalized":1})"},
      {kParamCount, 1, ""},
      {std::numeric_limits<uint32_t>::max(), 0, ""},
  };
  for (const auto &c : changes) {
    std::string out;
    EXPECT_EQ(writeBridgeParamChangedJson(out, c.id, c.normalized), *c.json != '\0') << c.id;
    EXPECT_EQ(out, c.json) << c.id;
  }

  std::string report, emptyReport;
  writeBridgeRuntimeDiagnosticsJson(report, R"({"format":"h"})");
  writeBridgeRuntimeDiagnosticsJson(emptyReport, "");
  EXPECT_EQ(report, R"({"type":"norva.runtimeDiagnostics","report":{"format":"h"}})");
  EXPECT_EQ(emptyReport, R"({"type":"norva.runtimeDiagnostics","report":{}})");

  // A state message reads back through the parser to the same values.
  double values[kParamCount] = {};
  values[kParamBpm] = 133.5;
  values[kParamSeed] = 4242;
  std::string state;
  writeBridgeStateJson(state, writeStateJson(values, 2, nullptr, SamplerAssetDiagnostic::none,
                                             SamplerZoneProgram::legacySingleZone, nullptr, nullptr, nullptr));
  EXPECT_EQ(state.rfind(R"({"type":"norva.state","state":{"params":{"tindrel.run":0,)", 0), 0u);
  BridgeMessage back;
  ASSERT_TRUE(parses(state, back));
  EXPECT_EQ(back.type, kBridgeState);
  ASSERT_TRUE(back.hasState);
  EXPECT_EQ(back.state.values[kParamBpm], 133.5);
  EXPECT_EQ(back.state.values[kParamSeed], 4242.0);
  EXPECT_EQ(back.state.variation, 2);
}

}  // namespace
