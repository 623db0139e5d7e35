// The editor's bank commands, the adoption of the processor's bank reply and
// the "norva.bankState" message.
#include "banks/control/bank_control.h"

#include <cmath>

#include "banks/bank_source.h"
#include "banks/hosted_bank.h"
#include "formats/json.h"
#include "params/params.h"

namespace norva {

namespace {

// As the reply writes it; null when not finite (JSON has no such number).
void appendPresetJsonValue(std::string &out, double value) {
  if (std::isfinite(value)) {
    appendPresetValue(out, value);
  } else {
    out += "null";
  }
}

const char *bankMissing() { return runtimeBankOutcomeName(kBankMissing); }

} // namespace

bool BankControl::handleMessage(const BridgeMessage &message) {
  const std::string &type = message.type;
  if (type == kBridgeSetPadOverrides) {
    if (host_->applyPadOverrides(message.pads)) {
      pads_ = message.pads;
      sendBankState(kBankReasonSetPadOverrides, nullptr, nullptr);
    }
    return true;
  }
  if (type == kBridgeLoadBankPreset && !message.id.empty()) {
    handleBankPreset(message.id);
    return true;
  }
  if (type == kBridgePickFolder) {
    handlePickFolder();
    return true;
  }
  if (type == kBridgeLoadBank) {
    if (!message.source.empty() && message.source != kBankSourceEmbedded) {
      handleRuntimeBank(message.source, message.bankPath, message.instrument, message.url, message.sha256);
      return true;
    }
    if (!message.id.empty()) {
      handleCompiledBank(message.id);
      return true;
    }
    return false;
  }
  if (type == kBridgeGetBankState) {
    sendBankState(kBankReasonQuery, nullptr, nullptr);
    return true;
  }
  return false;
}

void BankControl::handleRuntimeBank(const std::string &source, const std::string &bankPath,
                                    const std::string &instrument, const std::string &url,
                                    const std::string &sha256) {
  std::string folder = bankPath;
  const bool hosted = source == kBankSourceHosted;
  if (hosted) {
    std::string error;
    if (!fetchHostedBank(url, sha256, folder, error)) {
      sendBankState(kBankReasonLoadBank, kBankFetchFailed, url.c_str());
      return;
    }
  }
  if (folder.empty()) {
    sendBankState(kBankReasonLoadBank, bankMissing(), source.c_str());
    return;
  }
  // The arguments may be this control's own fields (a preset's re-request).
  const std::string newSource = source, newLocator = hosted ? url : folder, newSha = sha256,
                    newInstrument = instrument;
  source_ = newSource;
  locator_ = newLocator;
  sha256_ = newSha;
  requestedInstrument_ = newInstrument;
  host_->requestRuntimeBank(newSource, folder, newSha, newInstrument);
}

void BankControl::handleBankPreset(const std::string &id) {
  const BankControlPreset *found = nullptr;
  for (const BankControlPreset &preset : presets_) {
    if (preset.id == id) {
      found = &preset;
      break;
    }
  }
  if (found == nullptr) {
    sendBankState(kBankReasonLoadBank, bankMissing(), id.c_str());
    return;
  }
  // A copy: a reply adopted during the request below replaces the list.
  const BankControlPreset preset = *found;
  const bool sameInstrument = preset.instrument.empty() || preset.instrument == instrumentId_;
  if (!sameInstrument && !source_.empty() && !locator_.empty()) {
    handleRuntimeBank(source_, locator_, preset.instrument, locator_, sha256_);
  }
  for (const auto &[key, value] : preset.params) {
    if (const norva_param_desc *row = findParamByKey(key)) host_->editParam(row->id, value);
  }
  selectedPreset_ = preset.id;
  host_->notePresetSelected(preset.id, preset.name);
  if (sameInstrument) sendBankState(kBankReasonLoadBank, nullptr, nullptr);
}

void BankControl::handlePickFolder() {
  std::string path, error;
  const bool picked = host_->pickFolder(path, error);
  std::string out = "{\"type\":";
  jsonAppendQuoted(out, kFolderPickedMessage);
  out += picked ? ",\"ok\":true,\"path\":" : ",\"ok\":false";
  if (picked) {
    jsonAppendQuoted(out, path);
  } else if (error.empty()) {
    out += ",\"cancelled\":true";
  } else {
    out += ",\"error\":";
    jsonAppendQuoted(out, error);
  }
  out += '}';
  host_->sendBankJson(out);
}

void BankControl::handleCompiledBank(const std::string &id) {
  sendBankState(kBankReasonLoadBank, bankMissing(), id.c_str());
}

void BankControl::adoptRuntimeBankReply(const std::string &text) {
  RuntimeBankReply reply = decodeRuntimeBankReply(text);
  if (!reply.ok()) {
    const std::string requested = !requestedInstrument_.empty() ? requestedInstrument_ : locator_;
    clearRuntimeFacts();
    sendBankState(kBankReasonLoadBank, reply.outcome.c_str(), requested.c_str());
    return;
  }
  runtimeActive_ = true;
  instrumentId_ = std::move(reply.instrumentId);
  instrumentName_ = std::move(reply.instrumentName);
  instrumentList_ = std::move(reply.instrumentList);
  positionings_ = std::move(reply.positionings);
  presets_ = std::move(reply.presets);
  sendBankState(kBankReasonLoadBank, nullptr, nullptr);
}

void BankControl::clearRuntimeFacts() {
  runtimeActive_ = false;
  source_.clear();
  locator_.clear();
  sha256_.clear();
  instrumentId_.clear();
  instrumentName_.clear();
  instrumentList_.clear();
  positionings_.clear();
  presets_.clear();
}

void BankControl::sendBankState(const char *reason, const char *errorCode, const char *requestedId) {
  std::string out = "{\"type\":";
  jsonAppendQuoted(out, kBankStateMessage);
  out += ",\"reason\":";
  jsonAppendQuoted(out, reason != nullptr ? reason : kBankReasonQuery);
  out += ",\"stateVersion\":1,\"pads\":";
  writeSamplerPadOverridesJson(out, pads_);
  out += ",\"banks\":[]";
  if (runtimeActive_ && !source_.empty()) {
    out += ",\"runtime\":{\"source\":";
    jsonAppendQuoted(out, source_);
    out += ",\"locator\":";
    jsonAppendQuoted(out, locator_);
    if (!instrumentId_.empty()) {
      out += ",\"instrument\":{\"id\":";
      jsonAppendQuoted(out, instrumentId_);
      out += ",\"name\":";
      jsonAppendQuoted(out, instrumentName_);
      out += ",\"list\":";
      jsonAppendQuoted(out, instrumentList_);
      out += '}';
    }
    out += ",\"positionings\":[";
    for (size_t i = 0; i < positionings_.size(); ++i) {
      const std::vector<std::string_view> f = splitBankFields(positionings_[i], kBankReplyFieldBreak, 3);
      out += i == 0 ? "{\"id\":" : ",{\"id\":";
      jsonAppendQuoted(out, f[0]);
      out += ",\"name\":";
      jsonAppendQuoted(out, f[1]);
      out += ",\"list\":";
      jsonAppendQuoted(out, f[2]);
      out += '}';
    }
    out += "]}";
  }
  const bool bankScoped = runtimeActive_ && !presets_.empty();
  out += ",\"presets\":{\"bankScoped\":";
  out += bankScoped ? "true,\"items\":[" : "false,\"items\":[";
  for (size_t i = 0; bankScoped && i < presets_.size(); ++i) {
    const BankControlPreset &preset = presets_[i];
    out += i == 0 ? "{\"id\":" : ",{\"id\":";
    jsonAppendQuoted(out, preset.id);
    out += ",\"name\":";
    jsonAppendQuoted(out, preset.name);
    out += ",\"instrument\":";
    jsonAppendQuoted(out, preset.instrument);
    out += ",\"params\":{";
    for (size_t k = 0; k < preset.params.size(); ++k) {
      if (k != 0) out += ',';
      jsonAppendQuoted(out, preset.params[k].first);
      out += ':';
      appendPresetJsonValue(out, preset.params[k].second);
    }
    out += "}}";
  }
  out += "]}";
  if (errorCode != nullptr) {
    out += ",\"error\":{\"code\":";
    jsonAppendQuoted(out, errorCode);
    out += ",\"requestedId\":";
    jsonAppendQuoted(out, requestedId != nullptr ? requestedId : "");
    out += '}';
  }
  out += '}';
  host_->sendBankJson(out);
}

} // namespace norva
