// Editor messages from arbitrary bytes: a successful parse gives a record
// within its limits (feeds only of known bits, the command matching the type,
// maps and pads as the engine accepts them, nothing read that was not
// there), and every outbound text built from it is strict JSON that the
// parser reads back: the parameter change for its path and value, the state
// message for its document, the hello with its map.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"

namespace {

using namespace norva;
using norva::fuzz::fail;

constexpr uint32_t kKnownFeeds = (kFeedClock << 1) - 1;

BridgeMessage readBack(const std::string &text, const char *what) {
  if (!strict::valid(text)) fail("%s is not strict JSON: %s", what, text.c_str());
  BridgeMessage back;
  if (!parseBridgeMessage(text.data(), text.size(), back)) fail("%s does not parse back: %s", what, text.c_str());
  return back;
}

void checkLimits(const BridgeMessage &m) {
  if ((m.feeds & ~kKnownFeeds) != 0) fail("feeds 0x%x hold unknown bits", m.feeds);
  const DiagnosticCommand expected = m.type == kBridgeDiagSubscribe     ? DiagnosticCommand::subscribe
                                     : m.type == kBridgeDiagUnsubscribe ? DiagnosticCommand::unsubscribe
                                     : m.type == kBridgeDiagStimulus    ? DiagnosticCommand::stimulus
                                                                        : DiagnosticCommand::none;
  if (m.diagnosticCommand != expected) fail("command %d for type %s", int(m.diagnosticCommand), m.type.c_str());
  if (m.map.count > kCcMapCapacity) fail("map of %u bindings", m.map.count);
  if (!m.hasMap && m.map.count != 0) fail("bindings without a map");
  if (m.hasPads ? !padOverridesPublishable(m.pads) : !m.pads.empty()) fail("pads out of limits");
  if (!m.hasValue && m.value != 0.0) fail("a value without \"value\"");
  if (!m.hasState && (m.state.variation != -1 || m.state.hasCcMap || m.state.hasPads)) fail("a state without \"state\"");
  if (m.stimulus.frequencyHz != DiagnosticStimulusFact{}.frequencyHz) fail("the stimulus was changed");
}

void checkParamChanged(const BridgeMessage &m) {
  const norva_param_desc *row = findParamByKey(m.path);
  if (row == nullptr || !m.hasValue) return;
  const double normalized = norva_param_normalize(row, m.value);
  if (!(normalized >= 0.0 && normalized <= 1.0) && std::isfinite(m.value)) fail("normalised %g", normalized);
  std::string text;
  if (!writeBridgeParamChangedJson(text, row->id, normalized)) fail("row %u refused", row->id);
  const BridgeMessage back = readBack(text, "paramChanged");
  if (back.type != kBridgeParamChanged || back.path != m.path || !back.hasValue) fail("paramChanged read back wrong");
}

void checkState(const BridgeMessage &m) {
  if (!m.hasState) return;
  const StateChunk &chunk = m.state;
  const std::string document =
      writeStateJson(std::span<const double, kParamCount>(chunk.values), chunk.variation,
                     chunk.hasCcMap ? &chunk.ccMap : nullptr, chunk.samplerAssetFault, chunk.samplerZoneProgram, nullptr,
                     chunk.hasPads ? &chunk.pads : nullptr, nullptr);
  std::string text;
  writeBridgeStateJson(text, document);
  const BridgeMessage back = readBack(text, "state message");
  // A negative variation means none and is not written.
  const int32_t variation = chunk.variation >= 0 ? chunk.variation : -1;
  if (!back.hasState || back.state.variation != variation) fail("state read back wrong: %s", text.c_str());
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (std::memcmp(&back.state.values[i], &chunk.values[i], sizeof(double)) != 0) fail("value %u changed", i);
  }
}

void checkHello(const BridgeMessage &m) {
  BridgeHello hello;
  hello.plugin = {"id", "name", "vendor", "1"};
  for (uint32_t i = 0; i < kParamCount; ++i) hello.normalized[i] = std::isfinite(m.value) ? m.value : 0.0;
  hello.ccMap = m.hasMap ? &m.map : nullptr;
  hello.identity = R"({"moduleId":"id"})";
  hello.presetState = R"({"factoryCount":0})";
  std::string text;
  writeBridgeHelloJson(text, hello);
  if (readBack(text, "hello").type != kBridgeHello) fail("hello read back wrong");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact-size copy, so that reading past the text is caught.
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);

  BridgeMessage message;
  if (!parseBridgeMessage(block.get(), size, message)) return 0;
  checkLimits(message);
  checkParamChanged(message);
  checkState(message);
  checkHello(message);
  return 0;
}
