// The component state: one state document in the host's stream, nothing else.
#include <cstdio>
#include <cstring>
#include <string>

#include "banks/bank_source.h"
#include "banks/hosted_bank.h"
#include "processor/norva_processor.h"
#include "state/state_document.h"
#include "vst3/abi/ibstream.h"
#include "vst3/sdk/stream_reader.h"

namespace norva {

using namespace Steinberg;

tresult PLUGIN_API NorvaProcessor::getState(IBStream *state) {
  if (state == nullptr) return kResultFalse;
  if (engine_.realtimeDiagnosticsPending()) sendRuntimeDiagnostics(false);

  if (planeResend_) sendPlaneToKernel();

  double values[kParamCount];
  for (uint32_t i = 0; i < kParamCount; ++i) values[i] = engine_.paramValue(i);
  takeLeftRows();
  uint8_t plane[kPlaneBytes];
  planeForSaving(plane);
  const AuthoredStateOut authored{plane, sizeof plane, uint32_t(kPlaneVersion)};
  // No bank is ever published by this engine, so no bank block is written.
  const std::string text =
      writeStateJson(std::span<const double, kParamCount>(values), engine_.variation(),
                     ccMapPresent_ ? &ccMap_ : nullptr, SamplerAssetDiagnostic::none,
                     SamplerZoneProgram::legacySingleZone, nullptr, &banks_.padOverrides(), &authored);
  int32 written = 0;
  return state->write(const_cast<char *>(text.data()), int32(text.size()), &written);
}

tresult PLUGIN_API NorvaProcessor::setState(IBStream *state) {
  if (state == nullptr) return kResultFalse;
  std::string text;
  readWholeStream(state, text);

  StateChunk chunk;
  if (!parseStateJson(text.data(), text.size(), chunk)) return kResultFalse;
  // The plane is checked before anything is applied: a document whose plane
  // cannot be taken restores nothing.
  if (const char *fault = storedPlaneFault(chunk)) {
    engine_.recordDiagnostic(kDiagStateRestoreFailed, kSeverityError, kPhaseState,
                             "the saved pattern plane was refused; nothing was restored", fault);
    sendRuntimeDiagnostics(false);
    return kResultFalse;
  }
  engine_.leftRows().discard(); // rows of the plane replaced
  if (chunk.hasAuthoredState) {
    std::memcpy(plane_, chunk.authoredBytes.data(), kPlaneBytes);
  } else {
    writeFactoryPlane(plane_); // a document from before the plane was saved
  }
  sendPlaneToKernel();

  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (chunk.present[i]) engine_.setParamValue(i, chunk.values[i]);
  }
  if (chunk.refusedNumbers != 0) reportRefusedValues("state", chunk.refusedNumbers);
  if (chunk.variation >= 0) engine_.setVariation(chunk.variation);
  if (chunk.hasCcMap) {
    ccMap_ = chunk.ccMap;
    ccMapPresent_ = true;
  }
  banks_.publishPadOverrides(chunk.hasPads ? chunk.pads : SamplerPadOverrides());

  // The bank reference: what is saved above stays applied whatever the bank
  // folder holds. A bank that loads and is taken ends the restore; any other
  // falls through to the recall, which reports it again.
  if (chunk.hasBankRef && chunk.hasBankLocator && chunk.bankLocator[0] != '\0' &&
      std::strcmp(chunk.bankSource, kBankSourceEmbedded) != 0) {
    const RuntimeBankAttempt attempt =
        loadRuntimeBankFromPath(restoredBankFolder(chunk), chunk.bankSource, chunk.bankInstrument);
    if (attempt.outcome == kBankOk) {
      runtimeBankSource_ = chunk.bankSource;
      runtimeBankLocator_ = chunk.bankLocator;
      return kResultOk;
    }
    runtimeBankSource_.clear();
    runtimeBankLocator_.clear();
  }
  if (chunk.hasBankRef && chunk.bankId[0] != '\0') recallSampleBank(chunk.bankId);
  return kResultOk;
}

std::string NorvaProcessor::restoredBankFolder(const StateChunk &chunk) {
  if (std::strcmp(chunk.bankSource, kBankSourceHosted) != 0) return chunk.bankLocator;
  // A hosted bank lives in the cache under its digest; a digest that is not
  // hex could name some other folder, and an empty root no folder at all.
  const size_t length = std::strlen(chunk.bankSha256);
  if (length == 0 || std::strspn(chunk.bankSha256, "0123456789abcdefABCDEF") != length) return {};
  const std::string root = hostedBankCacheRoot();
  return root.empty() ? std::string() : root + "/" + chunk.bankSha256;
}

void NorvaProcessor::recallSampleBank(const char *bankId) {
  std::string detail = "{\"bank\":";
  jsonAppendQuoted(detail, bankId);
  detail += ",\"banks\":0}";
  engine_.recordDiagnostic(kDiagBankMissing, kSeverityError, kPhaseState,
                           "state recall named a bank this build does not contain; parameters kept, "
                           "output silent, no bank substituted",
                           detail.c_str());
}

} // namespace norva
