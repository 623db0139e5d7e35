// The controller as the editor's BridgeHost: each inbound message, the hello,
// parameter changes to the editor and the editor's open, close and error
// notifications.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>

#include "bridge/bridge_outbound.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"
#include "identity/plugin_ids.h"
#include "state/state_document.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr const char kBridgeNoteLine[] = "norva-plugin-shell: bridge %s note=%d\n";
constexpr const char *kUnknownEditorError = "unknown";

// The row an editor message names by its exact key; null for anything else,
// however close.
const norva_param_desc *paramNamed(const std::string &path) { return findParamByKey(std::string_view(path)); }

// A note number as the console line prints it (truncated), when it has one.
bool noteNumber(double note, int &out) {
  if (!std::isfinite(note) || note <= double(std::numeric_limits<int>::min()) - 1.0 ||
      note >= double(std::numeric_limits<int>::max()) + 1.0) {
    return false;
  }
  out = static_cast<int>(note);
  return true;
}

} // namespace

void NorvaController::setBridgeSink(BridgeSink sink) { sink_ = std::move(sink); }

void NorvaController::sendToUi(const std::string &text) {
  if (!sink_) return;
  // A copy: the sink may replace or remove itself while it runs.
  const BridgeSink sink = sink_;
  sink(text);
}

void NorvaController::sendParamChanged(ParamID id, double normalized) {
  if (id >= kParamCount || !sink_) return;
  std::string text;
  if (writeBridgeParamChangedJson(text, id, normalized)) sendToUi(text);
}

void NorvaController::sendHello() {
  refreshPresetState();
  BridgeHello hello{.plugin = {kModuleId, kPluginName, kVendorName, kPluginVersion}};
  for (uint32_t i = 0; i < kParamCount; ++i) hello.normalized[i] = getParamNormalized(i);
  hello.ccMap = hasCcMap_ ? &ccMap_ : nullptr;
  hello.runtimeHealth = runtimeHealth_;
  hello.target = DiagnosticTarget::vst3;
  hello.host = &hostFacts_;
  hello.presetState = &presetState_;
  if (sink_) {
    std::string text;
    writeBridgeHelloJson(text, hello);
    sendToUi(text);
  }
  helloSent_ = true;
}

void NorvaController::onEditorOpened() { emitLifecycle(DiagnosticLifecycleKind::editorOpened); }

void NorvaController::onEditorClosed() {
  emitLifecycle(DiagnosticLifecycleKind::editorClosed);
  feedMask_ = 0;
  maxFeedRate_ = 0.0;
  helloSent_ = false;
}

void NorvaController::onEditorError(const char *reason) {
  recordLifecycle(DiagnosticLifecycleKind::editorError)
      .addString("reason", reason != nullptr ? reason : kUnknownEditorError);
  publishLastLifecycle();
}

void NorvaController::subscribeFeeds(const BridgeMessage &message) {
  if (!std::isfinite(message.hz)) return;
  feedMask_ = message.feeds;
  maxFeedRate_ = std::fmin(std::fmax(message.hz, 0.0), kCadenceRateHz);
  if (subscribed(kFeedLifecycle)) replayLifecycle();
  if (transportValid_ && subscribed(kFeedTransport)) sendTransport(transport_);
  transportResetPending_ = true;
  transportValid_ = false;
  pollTransport();
}

void NorvaController::sendState() {
  double values[kParamCount];
  for (uint32_t i = 0; i < kParamCount; ++i) values[i] = currentPlain(i);
  uint8_t plane[kPlaneBytes];
  planeForSaving(plane);
  const AuthoredStateOut authored{plane, sizeof plane, uint32_t(kPlaneVersion)};
  const std::string document =
      writeStateJson(std::span<const double, kParamCount>(values), -1, hasCcMap_ ? &ccMap_ : nullptr,
                     SamplerAssetDiagnostic::none, SamplerZoneProgram::legacySingleZone, nullptr,
                     &bankControl_.pads(), &authored);
  presetState_.lastStateBytes = static_cast<int64_t>(document.size());
  DiagnosticLifecycleEvent &event = recordLifecycle(DiagnosticLifecycleKind::stateSaved);
  event.addNumber("stateBytes", static_cast<double>(document.size()));
  event.addString("source", "ui");
  publishLastLifecycle();
  std::string text;
  writeBridgeStateJson(text, document);
  sendToUi(text);
}

// The message was read whole before this runs: a document that is malformed
// anywhere never reaches here, so nothing of it is applied.
void NorvaController::applySetState(const BridgeMessage &message, size_t length) {
  const StateChunk &state = message.state;
  if (const char *fault = storedPlaneFault(state)) {
    refuseMessage(kBridgeSetState, fault);
    return;
  }
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (!state.present[i]) continue;
    const double normalized = norva_param_normalize(&NORVA_PARAMS[i], state.values[i]);
    beginEdit(i);
    setParamNormalized(i, normalized);
    performEdit(i, normalized);
    endEdit(i);
  }
  if (state.hasCcMap) adoptCcMap(state.ccMap, true);
  const SamplerPadOverrides pads = state.hasPads ? state.pads : SamplerPadOverrides();
  if (bankBridge_.applyPadOverrides(pads)) bankControl_.adoptRestoredPadOverrides(pads);
  bankControl_.sendBankState(kBankReasonRestore, nullptr, nullptr);
  // A state without a plane keeps the plane in force.
  if (state.hasAuthoredState) {
    uint8_t plane[kPlaneBytes];
    std::memcpy(plane, state.authoredBytes.data(), kPlaneBytes);
    adoptPlane(plane);
    sendToProcessor(kPlaneMessage, plane_, kPlaneBytes, true);
    setDirty(true);
  }
  DiagnosticLifecycleEvent &event = recordLifecycle(DiagnosticLifecycleKind::stateRestored);
  event.addNumber("stateBytes", static_cast<double>(length));
  event.addString("source", "ui");
  publishLastLifecycle();
}

void NorvaController::handleBridgeMessage(const char *json, size_t length) {
  BridgeMessage message;
  if (!parseBridgeMessage(json, length, message)) {
    reportMalformedBridgeMessage(length);
    return;
  }
  const std::string &type = message.type;
  if (type == kBridgeReady) {
    sendHello();
    return;
  }
  switch (message.diagnosticCommand) {
  case DiagnosticCommand::subscribe: subscribeFeeds(message); return;
  case DiagnosticCommand::unsubscribe:
    feedMask_ = 0;
    maxFeedRate_ = 0.0;
    return;
  case DiagnosticCommand::stimulus: return;  // nothing in this plug-in acts on one
  case DiagnosticCommand::none: break;
  }
  if (type == kBridgeLoadFactoryPreset) return;  // there are no factory presets
  if (bankControl_.handleMessage(message)) return;
  if (handlePlaneMessage(message)) return;

  if (type == kBridgeSetParam) {
    const norva_param_desc *row = paramNamed(message.path);
    if (row == nullptr || !message.hasValue || !std::isfinite(message.value)) return;
    const double normalized = norva_param_normalize(row, message.value);
    echoParam_ = static_cast<int32_t>(row->id);
    echoValue_ = normalized;
    setParamNormalized(row->id, normalized);
    performEdit(row->id, normalized);
  } else if (type == kBridgeBeginEdit || type == kBridgeEndEdit) {
    const norva_param_desc *row = paramNamed(message.path);
    if (row == nullptr) return;
    if (type == kBridgeBeginEdit) {
      beginEdit(row->id);
    } else {
      endEdit(row->id);
    }
  } else if (type == kBridgeGetState) {
    sendState();
  } else if (type == kBridgeSetCcMap) {
    if (message.hasMap) adoptCcMap(message.map, true);
  } else if (type == kBridgeSetState) {
    if (message.hasState) applySetState(message, length);
  } else if (type == kBridgeNoteOn || type == kBridgeNoteOff) {
    int note = 0;
    if (noteNumber(message.note, note)) {
      std::fprintf(stderr, kBridgeNoteLine, type.c_str(), note);
      std::fflush(stderr);
    }
  }
}

} // namespace norva
