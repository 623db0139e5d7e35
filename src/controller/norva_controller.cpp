// The controller toward the host: initialise and terminate, the two states,
// parameter values with the editor's echo rule, MIDI-controller assignment,
// the CC map, the view, preset facts and the lifecycle log.
#include "controller/norva_controller.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <span>

#include "controller/diagnostic_bridge.h"
#include "controller/norva_parameter.h"
#include "diagnostics/component_messages.h"
#include "state/state_document.h"
#include "vst3/abi/ibstream.h"
#include "vst3/abi/ivsthostapplication.h"
#include "vst3/sdk/stream_reader.h"
#include "vst3/sdk/ustring.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

struct ValidatorName {
  const char *first;
  const char *second;
  DiagnosticValidatorHost kind;
};

// Host names that identify a validator, by substring; first match wins, in
// this order.
constexpr ValidatorName kValidatorNames[] = {
    {"pluginval", "Pluginval", kValidatorHostPluginval},
    {"auval", nullptr, kValidatorHostAuval},
    {"clap-validator", "clap_validator", kValidatorHostClapValidator},
    {"Validator", "validator", kValidatorHostSteinberg},
    {"Norva", "norva", kValidatorHostNorvaProbe},
};

uint8_t classifyHost(std::string_view name) {
  for (const ValidatorName &entry : kValidatorNames) {
    if (name.find(entry.first) != std::string_view::npos) return entry.kind;
    if (entry.second != nullptr && name.find(entry.second) != std::string_view::npos) return entry.kind;
  }
  return kValidatorHostNone;
}

} // namespace

NorvaController::NorvaController() {
  writeFactoryPlane(plane_);
  enterLiveController(*this);
}

NorvaController::~NorvaController() {
  leaveLiveController(*this);
  clock_.stop();
  sink_ = nullptr;
}

FUnknown *NorvaController::createInstance(void *) {
  return static_cast<IEditController *>(new NorvaController());
}

void NorvaController::captureHostIdentity(FUnknown *context) {
  if (context == nullptr) return;
  IHostApplication *host = nullptr;
  if (context->queryInterface(IHostApplication::iid, reinterpret_cast<void **>(&host)) != kResultOk ||
      host == nullptr) {
    return;
  }
  String128 name = {};
  if (host->getName(name) == kResultOk) {
    char ascii[sizeof hostFacts_.hostName] = {};
    UString(name, 128).toAscii(ascii, sizeof ascii);
    std::memcpy(hostFacts_.hostName, ascii, sizeof ascii);
    hostFacts_.hostName[sizeof hostFacts_.hostName - 1] = '\0';
    hostFacts_.validatorHost = classifyHost(hostFacts_.hostName);
  }
  host->release();
}

tresult PLUGIN_API NorvaController::initialize(FUnknown *context) {
  const tresult result = EditControllerEx1::initialize(context);
  if (result != kResultOk) return result;
  captureHostIdentity(context);
  addUnits();
  const Parameter *keyRoot = nullptr;
  for (const norva_param_desc &row : NORVA_PARAMS) {
    Parameter *parameter = parameters.addParameter(
        new NorvaParameter(row, row.id == kParamScaleMask ? keyRoot : nullptr));
    if (row.id == kParamKeyRoot) keyRoot = parameter;
  }
  refreshPresetState();
  emitLifecycle(DiagnosticLifecycleKind::created);
  // The controller's own clock, independent of any editor, when the host
  // context offers a run loop; exported clocks may use that run loop too.
  offerHostRunLoop(this, context);
  clock_.start(context, kCadenceIntervalMs, [this] { tickCadence(); });
  return kResultOk;
}

void NorvaController::addUnits() {
  units.clear();
  String128 name = {};
  UString(name, 128).fromAscii("Root");
  addUnit(new Unit(name, kRootUnitId, kNoParentUnitId));
  for (int32_t group = 0; group < kParamGroupCount; ++group) {
    UString(name, 128).fromAscii(kParamGroups[group]);
    addUnit(new Unit(name, paramGroupUnitId(group), kRootUnitId));
  }
}

tresult PLUGIN_API NorvaController::terminate() {
  emitLifecycle(DiagnosticLifecycleKind::destroyed);
  clock_.stop();
  withdrawHostRunLoop(this);
  return EditControllerEx1::terminate();
}

double NorvaController::currentPlain(uint32_t index) {
  return paramToPlain(NORVA_PARAMS[index], getParamNormalized(index));
}

tresult NorvaController::setParamMovingRows(ParamID tag, ParamValue value) {
  const double left = currentPlain(kParamPattern);
  if (tag == kParamPattern) keepSelectedRow(left);
  const tresult result = EditControllerEx1::setParamNormalized(tag, value);
  if (result == kResultOk && tag == kParamPattern && currentPlain(kParamPattern) != left) takeSelectedRow();
  return result;
}

tresult PLUGIN_API NorvaController::setParamNormalized(ParamID tag, ParamValue value) {
  if (!std::isfinite(value)) return kInvalidArgument;  // no value at all: the parameter keeps its own
  const tresult result = setParamMovingRows(tag, value);
  if (result != kResultOk) return result;
  if (echoParam_ >= 0 && tag == static_cast<ParamID>(echoParam_) && value == echoValue_) {
    echoParam_ = -1;  // the editor's own edit coming back: not echoed
    return result;
  }
  sendParamChanged(tag, value);
  return result;
}

tresult PLUGIN_API NorvaController::getMidiControllerAssignment(int32 busIndex, int16 channel,
                                                               CtrlNumber midiControllerNumber, ParamID &id) {
  if (busIndex != 0 || midiControllerNumber < 0 || midiControllerNumber >= kMidiCcCount) return kResultFalse;
  const uint32_t count = ccMap_.count < kCcMapCapacity ? ccMap_.count : kCcMapCapacity;
  for (uint32_t i = 0; i < count; ++i) {
    const CcBinding &binding = ccMap_.bindings[i];
    if (!binding.enabled || binding.cc != midiControllerNumber || binding.paramIndex >= kParamCount) continue;
    if (binding.channel != 0 && binding.channel != channel + 1) continue;
    id = binding.paramIndex;
    return kResultTrue;
  }
  return kResultFalse;
}

void NorvaController::adoptCcMap(const CcMap &map, bool notifyEditor) {
  ccMap_ = map;
  hasCcMap_ = true;
  if (componentHandler != nullptr) componentHandler->restartComponent(kMidiCCAssignmentChanged);
  sendCcMapToProcessor();
  recordLifecycle(DiagnosticLifecycleKind::ccMapChanged).addNumber("bindings", ccMap_.count);
  publishLastLifecycle();
  if (notifyEditor && sink_) {
    std::string text;
    writeCcMapChangedJson(text, ccMap_);
    sendToUi(text);
  }
}

void NorvaController::sendCcMapToProcessor() {
  std::string json;
  writeCcMapJson(json, ccMap_);
  sendToProcessor(kCcMapMessage, json.data(), static_cast<uint32_t>(json.size()), true);
}

// The map and pad overrides of a restored document (either state).
void NorvaController::adoptRestoredDocument(const StateChunk &chunk) {
  if (chunk.hasCcMap) adoptCcMap(chunk.ccMap, true);
  bankControl_.adoptRestoredPadOverrides(chunk.hasPads ? chunk.pads : SamplerPadOverrides());
  bankControl_.sendBankState(kBankReasonRestore, nullptr, nullptr);
}

tresult PLUGIN_API NorvaController::setComponentState(IBStream *state) {
  std::string text;
  if (!readWholeStream(state, text)) return kResultFalse;
  StateChunk chunk;
  if (!parseStateJson(text.data(), text.size(), chunk)) return kResultFalse;
  // The processor refuses a document whose plane it cannot take; so does this.
  if (storedPlaneFault(chunk) != nullptr) return kResultFalse;
  presetState_.lastStateBytes = static_cast<int64_t>(text.size());
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (chunk.present[i]) setParamNormalized(i, norva_param_normalize(&NORVA_PARAMS[i], chunk.values[i]));
  }
  adoptRestoredDocument(chunk);
  uint8_t plane[kPlaneBytes];
  if (chunk.hasAuthoredState) {
    std::memcpy(plane, chunk.authoredBytes.data(), kPlaneBytes);
  } else {
    writeFactoryPlane(plane);
  }
  adoptPlane(plane);
  DiagnosticLifecycleEvent &event = recordLifecycle(DiagnosticLifecycleKind::stateRestored);
  event.addNumber("stateBytes", static_cast<double>(text.size()));
  event.addString("source", "component");
  publishLastLifecycle();
  return kResultOk;
}

tresult PLUGIN_API NorvaController::setState(IBStream *state) {
  std::string text;
  if (!readWholeStream(state, text)) return kResultFalse;
  if (text.empty()) return kResultOk;
  StateChunk chunk;
  if (!parseStateJson(text.data(), text.size(), chunk)) return kResultFalse;
  adoptRestoredDocument(chunk);
  return kResultOk;
}

tresult PLUGIN_API NorvaController::getState(IBStream *state) {
  if (state == nullptr) return kResultFalse;
  std::string text = "{";
  if (hasCcMap_) {
    text += "\"ccMap\":";
    writeCcMapJson(text, ccMap_);
  }
  if (!padOverrides().empty()) {
    if (hasCcMap_) text += ',';
    text += "\"sampler\":{\"v\":1,\"pads\":";
    writeSamplerPadOverridesJson(text, padOverrides());
    text += '}';
  }
  text += '}';
  int32 written = 0;
  return state->write(text.data(), static_cast<int32>(text.size()), &written);
}

bool NorvaController::isEditorViewName(FIDString name) {
  return name != nullptr && std::strcmp(name, ViewType::kEditor) == 0;
}

namespace {

std::atomic<NorvaController::EditorViewFactory> gEditorViewFactory{nullptr};

} // namespace

void NorvaController::setEditorViewFactory(EditorViewFactory factory) { gEditorViewFactory.store(factory); }

IPlugView *PLUGIN_API NorvaController::createView(FIDString name) {
  if (!isEditorViewName(name)) return nullptr;
  const EditorViewFactory factory = gEditorViewFactory.load();
  return factory != nullptr ? factory(this, nullptr) : nullptr;
}

void NorvaController::refreshPresetState() {
  presetState_.factoryCount = 0;
  presetState_.dirty = presetDirty();
  presetState_.userPresetsSupported = false;
  presetState_.bankPresent = false;
  presetState_.bank = BankFacts();
}

bool NorvaController::presetDirty() {
  if (!presetBaselineValid_) return false;
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (getParamNormalized(i) != presetBaseline_[i]) return true;
  }
  return false;
}

DiagnosticLifecycleEvent &NorvaController::recordLifecycle(DiagnosticLifecycleKind kind, int64_t atFrame) {
  return lifecycle_.record(kind, atFrame);
}

void NorvaController::publishLastLifecycle() {
  if (!subscribed(kFeedLifecycle) || lifecycle_.count() == 0) return;
  std::string text;
  if (writeDiagnosticLifecycleJson(text, &lifecycle_.at(lifecycle_.count() - 1), 1, 0)) sendToUi(text);
}

void NorvaController::emitLifecycle(DiagnosticLifecycleKind kind, int64_t atFrame) {
  recordLifecycle(kind, atFrame);
  publishLastLifecycle();
}

void NorvaController::replayLifecycle() {
  if (!sink_) return;
  std::string text;
  if (writeDiagnosticLifecycleReplayJson(text, lifecycle_)) sendToUi(text);
}

} // namespace norva
