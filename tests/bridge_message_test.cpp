// The bridge protocol: what an inbound text parses to (or why it is refused)
// and the outbound layouts byte for byte. fuzz/fuzz_bridge_message.cpp runs
// the parser on arbitrary bytes and reads back the state and parameter
// messages built from what it parsed.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "identity/plugin_ids.h"
#include "strict_json.h"

namespace {

using namespace norva;

std::string nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

// The members a text set, in one line.
std::string summary(const std::string &text) {
  BridgeMessage m;
  if (!parseBridgeMessage(text.data(), text.size(), m)) return "malformed";
  std::string s = m.type + "|" + m.path + m.id + m.source + m.bankPath + m.url + m.sha256 + m.instrument + "|";
  const auto number = [&s](const char *name, double x) { s += name, jsonAppendNumber(s, x); };
  if (m.hasValue) number(" value ", m.value);
  if (m.note != 0 || m.velocity != 0) number(" note ", m.note), number(" velocity ", m.velocity);
  if (m.feeds != 0 || m.hz != 0) number(" feeds ", m.feeds), number(" hz ", m.hz);
  if (m.diagnosticCommand != DiagnosticCommand::none) number(" command ", double(m.diagnosticCommand));
  if (!m.stimulusKind.empty()) s += " stimulus " + m.stimulusKind;
  if (m.hasState) number(" state bpm ", m.state.values[kParamBpm]), number(" variation ", m.state.variation);
  if (m.hasMap) number(" map ", m.map.count), number(" cc ", m.map.bindings[0].cc);
  if (m.hasPads) s += " pads " + (m.pads.empty() ? "" : m.pads[0].key);
  if (m.hasPattern) number(" pattern ", m.pattern);
  if (m.hasStep) number(" step ", m.step);
  if (m.hasTo) number(" to ", m.to);
  if (!m.field.empty()) s += " field " + m.field;
  if (m.hasData)
    number(" length ", m.data.fields[kPatternLength]), number(" note0 ", m.data.steps[kStepNote][0]),
        number(" tie0 ", m.data.steps[kStepTie][0]), number(" gate1 ", m.data.steps[kStepGate][1]);
  return s;
}

TEST(BridgeParse, Texts) {
  const struct {
    std::string text;
    const char *parsed;
  } cases[] = {
      {" {} ", "||"},
      {R"({"type":"norva.setParam","path":"tindrel.bpm","value":140,"x":{"a":[1,{"b":null}]}})",
       "norva.setParam|tindrel.bpm| value 140"},
      {R"({"type":"norva.setParam","path":"tindrel.bpm","value":"120"})", "malformed"},
      {R"({"source":"hosted","id":"kit","bankPath":"/b","instrument":"i","url":"u","sha256":"ab","note":60,)"
       R"("velocity":0.5})",
       "|kithosted/buabi| note 60 velocity 0.5"},
      {R"({"type":"norva.diag.subscribe","feeds":["host","lifecycle","nope"],"hz":30})",
       "norva.diag.subscribe|| feeds 65 hz 30 command 1"},
      {R"({"feeds":["host","transport","midiIn","midiOut","meters","scope","lifecycle","counters","params",)"
       R"("presets","clock"]})",
       "|| feeds 2047 hz 0"},
      {R"({"feeds":["Host","host\u0000",""]})", "||"},
      {R"({"type":"norva.diag.stimulus","stimulus":{"hz":[1],"kind":"sine"}})",
       "norva.diag.stimulus|| command 3 stimulus sine"},
      // Later keys replace earlier ones; an unknown member may nest 31 levels, not 33.
      {R"({"type":"x","type":"norva.diag.unsubscribe","feeds":["host"],"feeds":["clock"],"value":1,"value":2,)"
       R"("deep":)" + nested(31) + "}",
       "norva.diag.unsubscribe|| value 2 feeds 1024 hz 0 command 2"},
      {R"({"x":)" + nested(33) + "}", "malformed"},
      // Nested readers, and members of a kind their reader does not take.
      {R"({"state":{"params":{"tindrel.bpm":99},"variation":3},"id":"after"})", "|after| state bpm 99 variation 3"},
      {R"({"type":"norva.setState","state":"{}","map":5,"pads":[],"feeds":"host","stimulus":1})", "norva.setState||"},
      {R"({"map":[{"path":"tindrel.bpm","cc":7}]})", "|| map 1 cc 7"},
      {R"({"map":{"version":1}})", "||"},
      {R"({"pads":{"kick":{"gain":2}}})", "|| pads kick"},
      {R"({"state":{"variation":"two"}})", "malformed"},
      {R"({"map":[{"path":5,"cc":1}]})", "malformed"},
      {R"({"pads":{"kick":{"gain":1,}}})", "malformed"},
      // Malformed at the message's own level; the value of "type" must be a string.
      {R"({"type":"norva.ready"} x)", "malformed"},
      {R"({"type":1})", "malformed"},
      {R"({"hz":"30"})", "malformed"},
      {R"({"feeds":["host",1]})", "malformed"},
      {R"({"stimulus":{"kind":5}})", "malformed"},
      // The plane's messages: numbers, a field name, a pattern whose absent
      // members are the factory pattern's and whose values are held or refused.
      {R"({"type":"norva.setStepField","pattern":2,"step":31,"field":"on","value":0,"to":6})",
       "norva.setStepField|| value 0 pattern 2 step 31 to 6 field on"},
      {R"({"data":{"length":5,"steps":[{"note":200,"tie":true},{"gate":1}],"extra":[1]}})",
       "|| length 5 note0 72 tie0 1 gate1 5"},
      {R"({"data":{}})", "|| length 32 note0 60 tie0 0 gate1 50"},
      {R"({"data":{"length":33}})", "malformed"},
      {R"({"data":{"steps":[{"on":"yes"}]}})", "malformed"},
  };
  for (const auto &c : cases) EXPECT_EQ(summary(c.text), c.parsed) << c.text;
  BridgeMessage message;
  EXPECT_FALSE(parseBridgeMessage(nullptr, 0, message));
}

TEST(BridgeParse, MalformedLine) {
  testing::internal::CaptureStderr();
  reportMalformedBridgeMessage(57);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "norva-plugin-shell: malformed bridge message (57 bytes)\n");
}

TEST(BridgeOutbound, Hello) {
  // A bare controller: no map, no runtime report; its diagnostic blocks
  // close the hello.
  HostFacts host{.sampleRate = 48000};
  PresetStateFacts preset;
  preset.lastStateBytes = 12;
  BridgeHello hello{.plugin = {kModuleId, kPluginName, kVendorName, kPluginVersion}, .host = &host,
                    .presetState = &preset};
  hello.normalized[kParamBpm] = 0.5;
  std::string blocks;
  appendDiagnosticHelloBlocks(blocks, hello.plugin, DiagnosticTarget::vst3, host, preset);
  const std::string head = R"({"type":"norva.hello","plugin":{"id":"music.norva.tindrel","name":"Tindrel",)"
                           R"("vendor":"Norva Music","version":"1.0.0"},"params":[{"path":"tindrel.run","value":0,)"
                           R"("normalized":0},{"path":"tindrel.bpm","value":160,"normalized":0.5},)";
  std::string bare;
  writeBridgeHelloJson(bare, hello);
  EXPECT_TRUE(strict::valid(bare));
  EXPECT_TRUE(bare.starts_with(head)) << bare;
  EXPECT_TRUE(bare.ends_with(R"("factoryPresets":[])" + blocks + "}")) << bare;

  // Everything.
  CcMap map{.count = 1};
  map.bindings[0] = {.paramIndex = kParamBpm, .cc = 7};
  hello.ccMap = &map;
  hello.runtimeHealth = R"({"format":"h"})";
  std::string full, mapJson;
  writeBridgeHelloJson(full, hello);
  writeCcMapJson(mapJson, map);
  EXPECT_TRUE(strict::valid(full));
  EXPECT_TRUE(full.ends_with(R"("factoryPresets":[],"ccMap":)" + mapJson + R"(,"runtimeHealth":{"format":"h"})" +
                             blocks + "}"))
      << full;
}

TEST(BridgeOutbound, ParamStateAndReport) {
  const struct {
    uint32_t id;
    double normalized;
    const char *json;  // empty: nothing written
  } changes[] = {
      {kParamTranspose, 0.25,
       R"({"type":"norva.paramChanged","path":"tindrel.transpose","value":-12,"normalized":0.25})"},
      {kKernelParamCount - 1, 1, R"({"type":"norva.paramChanged","path":"tindrel.g32","value":127,"normalized":1})"},
      {kParamBypass, 1, R"({"type":"norva.paramChanged","path":"tindrel.bypass","value":1,"normalized":1})"},
      {kParamCount, 1, ""},
  };
  for (const auto &c : changes) {
    std::string out;
    EXPECT_EQ(writeBridgeParamChangedJson(out, c.id, c.normalized), *c.json != '\0') << c.id;
    EXPECT_EQ(out, c.json);
  }
  std::string report;
  writeBridgeRuntimeDiagnosticsJson(report, R"({"format":"h"})");
  EXPECT_EQ(report, R"({"type":"norva.runtimeDiagnostics","report":{"format":"h"}})");

  double values[kParamCount] = {};
  values[kParamBpm] = 133.5;
  std::string state;
  writeBridgeStateJson(state, writeStateJson(values, 2, nullptr, SamplerAssetDiagnostic::none,
                                             SamplerZoneProgram::legacySingleZone, nullptr, nullptr, nullptr));
  EXPECT_TRUE(state.starts_with(R"({"type":"norva.state","state":{"params":{"tindrel.run":0,)"));
}

}  // namespace
