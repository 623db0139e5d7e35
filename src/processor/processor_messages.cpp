// Messages between processor and controller. Every payload travels in one
// binary attribute named "json".
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "banks/bank_source.h"
#include "banks/pad_overrides.h"
#include "banks/runtime_bank_reply.h"
#include "diagnostics/component_messages.h"
#include "formats/json.h"
#include "identity/plugin_ids.h"
#include "processor/norva_processor.h"
#include "vst3/abi/ivstattributes.h"
#include "vst3/abi/ivstmessage.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr const char *kNoBankFolderError = "no bank folder was named";

// The "json" attribute of a message; false when it is missing or empty.
bool payloadOf(IMessage *message, const char *&bytes, uint32 &size) {
  IAttributeList *attributes = message->getAttributes();
  if (attributes == nullptr) return false;
  const void *data = nullptr;
  uint32 length = 0;
  if (attributes->getBinary(kMessagePayloadAttribute, data, length) != kResultOk || data == nullptr ||
      length == 0) {
    return false;
  }
  bytes = static_cast<const char *>(data);
  size = length;
  return true;
}

} // namespace

bool NorvaProcessor::sendPayload(const char *id, const void *bytes, uint32 size) {
  IMessage *message = allocateMessage();
  if (message == nullptr) return false;
  message->setMessageID(id);
  bool sent = false;
  if (IAttributeList *attributes = message->getAttributes()) {
    attributes->setBinary(kMessagePayloadAttribute, bytes, size);
    sent = sendMessage(message) == kResultOk;
  }
  message->release();
  return sent;
}

void NorvaProcessor::reportRefusedValues(const char *source, uint32_t count) {
  char detail[96];
  std::snprintf(detail, sizeof detail, "source=%s; refused=%u", source, unsigned(count));
  engine_.recordDiagnostic(kDiagStateRestoreFailed, kSeverityWarning, kPhaseState,
                           "values that cannot be saved again were refused; the rest was kept", detail);
}

void NorvaProcessor::sendRuntimeDiagnostics(bool failed) {
  engine_.drainRuntimeDiagnostics();
  const norva_runtime_diagnostic_ring ring = engine_.diagnostics();
  const std::string report = writeRuntimeHealthJson(ring, kModuleId, kPluginVersion, engine_.sampleRate(),
                                                    engine_.maxBlockFrames(), failed);
  sendPayload(kRuntimeDiagnosticsMessage, report.data(), uint32(report.size()));
}

NorvaProcessor::RuntimeBankAttempt NorvaProcessor::loadRuntimeBankFromPath(const std::string &path,
                                                                          const std::string &source,
                                                                          const std::string &instrument) {
  RuntimeBankAttempt attempt;
  RuntimeBankLoad load;
  if (path.empty()) {
    load.error = kNoBankFolderError;
  } else {
    load = loadRuntimeBank(path, 0, instrument);
  }
  attempt.outcome = load.outcome;
  attempt.error = std::move(load.error);
  if (load.outcome == kBankOk) {
    auto staged = std::make_shared<const StagedBank>(std::move(load.bank));
    if (banks_.publishRuntimeBank(staged)) {
      attempt.bank = std::move(staged);
      return attempt;
    }
    attempt.outcome = kBankTooLarge;
    attempt.error = kEngineRefusedBankError;
  }
  const char *outcomeName = runtimeBankOutcomeName(attempt.outcome);
  const std::string message = std::string("runtime bank load refused (") + outcomeName + "): " + attempt.error;
  std::string detail = "{\"reason\":";
  jsonAppendQuoted(detail, outcomeName);
  detail += ",\"source\":";
  jsonAppendQuoted(detail, source);
  detail += '}';
  engine_.recordDiagnostic(attempt.outcome == kBankHashMismatch ? kDiagBankHashMismatch : kDiagBankMissing,
                           kSeverityError, kPhaseLoad, message.c_str(), detail.c_str());
  sendRuntimeDiagnostics(false);
  return attempt;
}

void NorvaProcessor::answerRuntimeBankRequest(const char *bytes, uint32_t size) {
  RuntimeBankRequest request = decodeRuntimeBankRequest(std::string_view(bytes, size));
  if (request.source.empty()) request.source = kBankSourceUserFolder;
  RuntimeBankAttempt attempt;
  if (request.folder.empty()) {
    attempt.error = kNoBankFolderError; // nothing is loaded
  } else {
    attempt = loadRuntimeBankFromPath(request.folder, request.source, request.instrument);
  }
  if (attempt.outcome == kBankOk) {
    runtimeBankSource_ = request.source;
    runtimeBankLocator_ = request.folder;
  }
  const std::string reply =
      encodeRuntimeBankReply(runtimeBankOutcomeName(attempt.outcome), attempt.error, attempt.bank.get());
  sendPayload(kRuntimeBankResultMessage, reply.data(), uint32(reply.size()));
}

tresult PLUGIN_API NorvaProcessor::notify(IMessage *message) {
  if (message == nullptr) return kInvalidArgument;
  const char *id = message->getMessageID();
  if (id == nullptr) return AudioEffect::notify(message);

  const char *bytes = nullptr;
  uint32 size = 0;
  if (planeResend_) sendPlaneToKernel();
  if (std::strcmp(id, kPlaneFieldMessage) == 0) {
    PlaneFieldSet set;
    if (payloadOf(message, bytes, size) &&
        decodePlaneFieldSet(reinterpret_cast<const uint8_t *>(bytes), size, set))
      adoptPlaneField(set);
    return kResultOk;
  }
  if (std::strcmp(id, kPlaneMessage) == 0) {
    if (payloadOf(message, bytes, size) &&
        authoredPlaneFault(reinterpret_cast<const uint8_t *>(bytes), size) == nullptr) {
      engine_.leftRows().discard(); // rows of the plane replaced
      std::memcpy(plane_, bytes, kPlaneBytes);
      sendPlaneToKernel();
    }
    return kResultOk;
  }
  if (std::strcmp(id, kCcMapMessage) == 0) {
    CcMap map;
    uint32_t refused = 0;
    if (payloadOf(message, bytes, size) && parseCcMapJson(bytes, size, map, &refused)) {
      ccMap_ = map;
      ccMapPresent_ = true;
      if (refused != 0) reportRefusedValues("ccMap", refused);
    }
    return kResultOk;
  }
  if (std::strcmp(id, kPadOverridesMessage) == 0) {
    SamplerPadOverrides pads;
    if (payloadOf(message, bytes, size) && parseSamplerPadOverridesJson(bytes, size, pads)) {
      banks_.publishPadOverrides(pads);
    }
    return kResultOk;
  }
  if (std::strcmp(id, kLoadRuntimeBankMessage) == 0) {
    if (payloadOf(message, bytes, size)) answerRuntimeBankRequest(bytes, size);
    return kResultOk;
  }
  if (std::strcmp(id, kPresetLoadedMessage) == 0) {
    if (payloadOf(message, bytes, size)) {
      loadedPresetId_.assign(bytes, size);
    } else {
      loadedPresetId_.clear();
    }
    return kResultOk;
  }
  if (std::strcmp(id, kTransportPollMessage) == 0) {
    answerTransportPoll(message);
    return kResultOk;
  }
  if (std::strcmp(id, kFeedDrainMessage) == 0 || std::strcmp(id, kResetCountersMessage) == 0) {
    // This processor keeps no feed.
    return kResultOk;
  }
  if (std::strcmp(id, kStageResourceSlotMessage) == 0) return kResultFalse;
  return AudioEffect::notify(message);
}

} // namespace norva
