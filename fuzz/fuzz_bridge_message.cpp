// Editor messages from arbitrary bytes: a successful parse gives a record
// within its limits, and the parameter change, state and pattern messages
// built from it are strict JSON that parses back to the same path, values,
// plane and pattern. A state's plane the plug-in would take is a whole one.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"

namespace {

using namespace norva;
using norva::fuzz::fail;

BridgeMessage readBack(const std::string &text) {
  BridgeMessage back;
  if (!strict::valid(text) || !parseBridgeMessage(text.data(), text.size(), back))
    fail("not read back: %s", text.c_str());
  return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);  // exact size: reading past the text is caught
  if (size > 0) std::memcpy(block.get(), data, size);
  BridgeMessage m;
  if (!parseBridgeMessage(block.get(), size, m)) return 0;

  if (m.feeds >= kFeedClock << 1) fail("feeds 0x%x hold unknown bits", m.feeds);
  const bool diagnostic =
      m.type == kBridgeDiagSubscribe || m.type == kBridgeDiagUnsubscribe || m.type == kBridgeDiagStimulus;
  if (diagnostic != (m.diagnosticCommand != DiagnosticCommand::none)) fail("command for type %s", m.type.c_str());
  if (m.map.count > (m.hasMap ? kCcMapCapacity : 0)) fail("map of %u bindings", m.map.count);
  if (m.hasPads ? !padOverridesPublishable(m.pads) : !m.pads.empty()) fail("pads out of limits");
  if (!m.hasState && m.state.variation != -1) fail("a state without \"state\"");

  std::string text;
  if (const norva_param_desc *row = findParamByKey(m.path); row != nullptr && m.hasValue) {
    if (!writeBridgeParamChangedJson(text, row->id, norva_param_normalize(row, m.value))) fail("row refused");
    if (readBack(text).path != m.path) fail("paramChanged read back wrong: %s", text.c_str());
  }
  if (m.hasState) {
    const StateChunk &s = m.state;
    const char *fault = storedPlaneFault(s);
    if (fault == nullptr && s.hasAuthoredState && s.authoredBytes.size() != size_t(kPlaneBytes))
      fail("a plane of %zu bytes taken", s.authoredBytes.size());
    if (s.authoredUndecodable && fault == nullptr) fail("undecodable plane taken");
    const AuthoredStateOut authored{s.authoredBytes.data(), s.authoredBytes.size(), uint32_t(kPlaneVersion)};
    text.clear();
    writeBridgeStateJson(text, writeStateJson(s.values, s.variation, s.hasCcMap ? &s.ccMap : nullptr,
                                              s.samplerAssetFault, s.samplerZoneProgram, nullptr,
                                              s.hasPads ? &s.pads : nullptr, fault == nullptr && s.hasAuthoredState ? &authored : nullptr));
    const BridgeMessage back = readBack(text);
    if (!back.hasState || std::memcmp(back.state.values, s.values, sizeof s.values) != 0) fail("state changed");
    if (fault == nullptr && s.hasAuthoredState && back.state.authoredBytes != s.authoredBytes) fail("plane changed");
  }
  if (m.hasData) {
    for (int field = 0; field < kStepFieldCount; ++field)
      for (int step = 0; step < kPlaneSteps; ++step)
        if (m.data.steps[field][step] != heldStepValue(field, m.data.steps[field][step])) fail("step byte not held");
    for (int field = 0; field < kPatternFieldCount; ++field)
      if (m.data.fields[field] < kPatternFieldMin[field] || m.data.fields[field] > kPatternFieldMax[field])
        fail("pattern field %d out of bounds", field);
    text.clear();
    writeBridgePatternJson(text, 0, m.data);
    const std::string object = R"({"type":"norva.setPattern","pattern":0,"data":)" +
                               text.substr(std::strlen(R"({"type":"norva.pattern","pattern":)"));
    const BridgeMessage back = readBack(object);
    if (!back.hasData || std::memcmp(&back.data, &m.data, sizeof m.data) != 0) fail("pattern changed: %s", object.c_str());
  }
  return 0;
}
