#include "controller/norva_controller.h"

#include <cstring>

#include "controller/norva_parameter.h"
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
  uint8_t kind;
};

// First match wins, in this order.
constexpr ValidatorName kValidatorNames[] = {
    {"pluginval", "Pluginval", 1}, {"auval", nullptr, 3},      {"clap-validator", "clap_validator", 2},
    {"Validator", "validator", 4}, {"Norva", "norva", 5},
};

uint8_t classifyHost(const std::string &name) {
  for (const auto &entry : kValidatorNames) {
    if (name.find(entry.first) != std::string::npos) return entry.kind;
    if (entry.second != nullptr && name.find(entry.second) != std::string::npos) return entry.kind;
  }
  return 0;
}

} // namespace

NorvaController::NorvaController() = default;
NorvaController::~NorvaController() = default;

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
    char ascii[128] = {};
    UString(name, 128).toAscii(ascii, sizeof ascii);
    hostName_ = ascii;
    validatorKind_ = classifyHost(hostName_);
  }
  host->release();
}

tresult PLUGIN_API NorvaController::initialize(FUnknown *context) {
  const tresult result = EditControllerEx1::initialize(context);
  if (result != kResultOk) return result;
  captureHostIdentity(context);
  for (const norva_param_desc &row : NORVA_PARAMS) parameters.addParameter(new NorvaParameter(row));
  return kResultOk;
}

tresult PLUGIN_API NorvaController::getMidiControllerAssignment(int32 busIndex, int16 channel,
                                                               CtrlNumber midiControllerNumber,
                                                               ParamID &id) {
  if (busIndex != 0 || midiControllerNumber < 0 || midiControllerNumber > 127) return kResultFalse;
  for (uint32_t i = 0; i < ccMap_.count && i < ccMap_.bindings.size(); ++i) {
    const CcBinding &binding = ccMap_.bindings[i];
    if (!binding.enabled || binding.cc != midiControllerNumber || binding.paramIndex >= kParamCount) continue;
    if (binding.channel != 0 && binding.channel != channel + 1) continue;
    id = binding.paramIndex;
    return kResultTrue;
  }
  return kResultFalse;
}

tresult PLUGIN_API NorvaController::setComponentState(IBStream *state) {
  std::string text;
  if (!readWholeStream(state, text)) return kResultFalse;
  StateChunk chunk;
  if (!parseStateJson(text.data(), text.size(), chunk)) return kResultFalse;
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (!chunk.present[i]) continue;
    setParamNormalized(i, norva_param_normalize(&NORVA_PARAMS[i], chunk.values[i]));
  }
  if (chunk.hasCcMap) {
    ccMap_ = chunk.ccMap;
    hasCcMap_ = true;
  }
  padOverrides_ = chunk.hasPads ? chunk.pads : SamplerPadOverrides();
  return kResultOk;
}

tresult PLUGIN_API NorvaController::setState(IBStream *state) {
  std::string text;
  if (!readWholeStream(state, text)) return kResultFalse;
  if (text.empty()) return kResultOk;
  StateChunk chunk;
  if (!parseStateJson(text.data(), text.size(), chunk)) return kResultFalse;
  if (chunk.hasCcMap) {
    ccMap_ = chunk.ccMap;
    hasCcMap_ = true;
  }
  padOverrides_ = chunk.hasPads ? chunk.pads : SamplerPadOverrides();
  return kResultOk;
}

tresult PLUGIN_API NorvaController::getState(IBStream *state) {
  if (state == nullptr) return kResultFalse;
  std::string text = "{";
  if (hasCcMap_) {
    text += "\"ccMap\":";
    writeCcMapJson(text, ccMap_);
  }
  if (!padOverrides_.empty()) {
    if (hasCcMap_) text += ",";
    text += "\"sampler\":{\"v\":1,\"pads\":";
    writeSamplerPadOverridesJson(text, padOverrides_);
    text += "}";
  }
  text += "}";
  int32 written = 0;
  return state->write(text.data(), int32(text.size()), &written);
}

} // namespace norva
