// The bank control's host: the controller's parameters, the processor's bank
// loading and pad overrides, the folder picker and the preset facts.
#include <cmath>

#include "banks/hosted_bank.h"
#include "banks/runtime_bank_reply.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr const char *kPresetOriginBank = "bank";

} // namespace

void NorvaController::BankBridge::sendBankJson(const std::string &json) { owner_->sendToUi(json); }

void NorvaController::BankBridge::editParam(unsigned index, double plain) {
  if (index >= kParamCount || !std::isfinite(plain)) return;
  const double normalized = norva_param_normalize(&NORVA_PARAMS[index], plain);
  owner_->beginEdit(index);
  owner_->setParamMovingRows(index, normalized);
  owner_->sendParamChanged(index, normalized);
  owner_->performEdit(index, normalized);
  owner_->endEdit(index);
}

double NorvaController::BankBridge::readParam(unsigned index) const {
  return index < kParamCount ? owner_->currentPlain(index) : 0.0;
}

// A request that cannot reach the processor is answered here, as the
// processor would answer a bank it cannot find, so the editor is never left
// waiting.
void NorvaController::BankBridge::requestRuntimeBank(const std::string &source, const std::string &folder,
                                                     const std::string &sha256, const std::string &instrument) {
  std::string request;
  if (encodeRuntimeBankRequest({source, folder, sha256, instrument}, request) &&
      owner_->sendToProcessor(kLoadRuntimeBankMessage, request.data(), static_cast<uint32_t>(request.size()),
                              true)) {
    return;
  }
  owner_->bankControl_.adoptRuntimeBankReply(encodeRuntimeBankReply(nullptr, folder, nullptr));
}

bool NorvaController::BankBridge::applyPadOverrides(const SamplerPadOverrides &pads) {
  std::string json;
  writeSamplerPadOverridesJson(json, pads);
  return owner_->sendToProcessor(kPadOverridesMessage, json.data(), static_cast<uint32_t>(json.size()), true);
}

bool NorvaController::BankBridge::pickFolder(std::string &path, std::string &error) {
  return pickBankFolder(path, error);
}

void NorvaController::BankBridge::notePresetSelected(const std::string &id, const std::string &name) {
  PresetStateFacts &preset = owner_->presetState_;
  setCutText(preset.currentId, id, kPresetIdChars);
  setCutText(preset.currentName, name, kPresetNameChars);
  DiagnosticLifecycleEvent &event = owner_->recordLifecycle(DiagnosticLifecycleKind::presetLoaded);
  event.addString("id", preset.currentId.c_str());
  event.addString("name", preset.currentName.c_str());
  event.addString("origin", kPresetOriginBank);
  owner_->publishLastLifecycle();
  owner_->sendToProcessor(kPresetLoadedMessage, id.data(), static_cast<uint32_t>(id.size()), true);
}

} // namespace norva
