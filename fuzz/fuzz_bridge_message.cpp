// Editor messages from arbitrary bytes: a successful parse gives a record
// within its limits, and the parameter change and state message built from
// it are strict JSON that parses back to the same path and values.
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
    text.clear();
    writeBridgeStateJson(text, writeStateJson(s.values, s.variation, s.hasCcMap ? &s.ccMap : nullptr,
                                              s.samplerAssetFault, s.samplerZoneProgram, nullptr,
                                              s.hasPads ? &s.pads : nullptr, nullptr));
    const BridgeMessage back = readBack(text);
    if (!back.hasState || std::memcmp(back.state.values, s.values, sizeof s.values) != 0) fail("state changed");
  }
  return 0;
}
