// The controller's side of the traffic with the processor: the messages it
// sends, what it makes of the processor's messages (bank replies, lifecycle
// kinds, transport and host facts, runtime reports), and the cadence tick.
//
// A processor message is matched by its id and then answered kResultOk
// whatever its payload holds; a payload of the wrong size or form changes
// nothing and is never read beyond its stated size.
#include <cstring>
#include <string_view>

#include "banks/runtime_bank_reply.h"
#include "bridge/bridge_outbound.h"
#include "controller/norva_controller.h"
#include "diagnostics/component_messages.h"
#include "formats/json.h"
#include "vst3/abi/ivstattributes.h"
#include "vst3/abi/ivstmessage.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

// The message's "json" attribute; false when the message has none.
bool payloadOf(IMessage *message, std::string_view &payload) {
  IAttributeList *attributes = message->getAttributes();
  if (attributes == nullptr) return false;
  const void *data = nullptr;
  uint32 size = 0;
  if (attributes->getBinary(kMessagePayloadAttribute, data, size) != kResultOk) return false;
  if (data == nullptr && size != 0) return false;
  payload = size == 0 ? std::string_view() : std::string_view(static_cast<const char *>(data), size);
  return true;
}

bool sizeWithin(std::string_view payload, size_t least, size_t most) {
  return payload.size() >= least && payload.size() <= most;
}

// A runtime report the editor can be handed as it is: one JSON object and
// no control bytes (the processor writes none).
bool isReportText(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
  }
  Reader r(text.data(), text.size());
  Reader probe = r;
  skipWhitespace(probe);
  return probe.cur < probe.end && *probe.cur == '{' && skipValue(r, 0) && atEnd(r);
}

// The lifecycle kind a payload names, byte for byte.
bool lifecycleKindNamed(std::string_view payload, DiagnosticLifecycleKind &kind) {
  if (!sizeWithin(payload, 1, kLifecycleKindNameMaxBytes) || payload.find('\0') != std::string_view::npos) {
    return false;
  }
  const std::string name(payload);
  return diagnosticLifecycleKindFromName(name.c_str(), kind);
}

void addHostChangeFields(DiagnosticLifecycleEvent &event, DiagnosticLifecycleKind kind, const HostFacts &previous,
                         const HostFacts &current) {
  switch (kind) {
  case DiagnosticLifecycleKind::latencyChanged:
    event.addNumber("latencySamples", current.latencySamples);
    event.addNumber("previous", previous.latencySamples);
    event.addBool("reported", true);
    break;
  case DiagnosticLifecycleKind::sampleRateChanged:
    event.addNumber("sampleRate", current.sampleRate);
    event.addNumber("previous", previous.sampleRate);
    break;
  case DiagnosticLifecycleKind::blockSizeChanged:
    event.addNumber("maxBlockFrames", current.maxBlockFrames);
    event.addNumber("previous", previous.maxBlockFrames);
    break;
  case DiagnosticLifecycleKind::busLayoutChanged:
    event.addNumber("buses", current.usedBusCount());
    event.addString("layout", current.usedBusCount() > 0 ? current.buses[0].layout : "");
    break;
  case DiagnosticLifecycleKind::processModeChanged:
    event.addString("processMode", hostProcessModeName(current.processMode));
    break;
  case DiagnosticLifecycleKind::bypassChanged: event.addBool("bypassed", current.bypassed == 1); break;
  default: break;  // tailChanged, configured: the kind says it all
  }
}

} // namespace

bool NorvaController::sendToProcessor(const char *id, const void *payload, uint32_t size, bool hasPayload,
                                      const char *intAttribute, int64_t intValue) {
  IMessage *message = allocateMessage();
  if (message == nullptr) return false;
  message->setMessageID(id);
  bool ready = true;
  if (hasPayload || intAttribute != nullptr) {
    IAttributeList *attributes = message->getAttributes();
    ready = attributes != nullptr;
    if (ready && hasPayload) ready = attributes->setBinary(kMessagePayloadAttribute, payload, size) == kResultOk;
    if (ready && intAttribute != nullptr) ready = attributes->setInt(intAttribute, intValue) == kResultOk;
  }
  const bool sent = ready && sendMessage(message) == kResultOk;
  message->release();
  return sent;
}

tresult PLUGIN_API NorvaController::notify(IMessage *message) {
  if (message == nullptr) return kInvalidArgument;
  const char *id = message->getMessageID();
  if (id == nullptr) return EditControllerEx1::notify(message);
  const std::string_view name(id);
  std::string_view payload;

  if (name == kRuntimeBankResultMessage) {
    if (payloadOf(message, payload)) bankControl_.adoptRuntimeBankReply(std::string(payload));
  } else if (name == kLifecycleKindMessage) {
    DiagnosticLifecycleKind kind{};
    if (payloadOf(message, payload) && lifecycleKindNamed(payload, kind)) emitLifecycle(kind);
  } else if (name == kTransportFactMessage) {
    TransportFact fact;
    if (payloadOf(message, payload) && transportFactFromBytes(payload.data(), payload.size(), fact)) {
      adoptTransportFact(fact);
    }
  } else if (name == kSignalMessage) {
    // Read and dropped: nothing here shows signals.
  } else if (name == kHostFactsMessage) {
    HostFacts facts;
    if (payloadOf(message, payload) && hostFactsFromBytes(payload.data(), payload.size(), facts)) {
      adoptHostFacts(facts);
    }
  } else if (name == kRuntimeDiagnosticsMessage) {
    if (payloadOf(message, payload) && sizeWithin(payload, 1, kRuntimeReportMaxBytes) && isReportText(payload)) {
      runtimeHealth_.assign(payload);
      recordLifecycle(DiagnosticLifecycleKind::runtimeDiagnostic)
          .addNumber("reportBytes", static_cast<double>(payload.size()));
      publishLastLifecycle();
      if (sink_) {
        std::string text;
        writeBridgeRuntimeDiagnosticsJson(text, runtimeHealth_);
        sendToUi(text);
      }
    }
  } else {
    return EditControllerEx1::notify(message);
  }
  return kResultOk;
}

double NorvaController::transportRepeatIntervalMs() const {
  return kMillisecondsPerSecond / (maxFeedRate_ > 0.0 ? maxFeedRate_ : kCadenceRateHz);
}

void NorvaController::sendTransport(const TransportFact &fact) {
  lastTransportSentMs_ = lifecycle_.nowMs();
  std::string text;
  writeDiagnosticTransportJson(text, fact);
  sendToUi(text);
}

void NorvaController::adoptTransportFact(const TransportFact &fact) {
  const bool held = transportValid_;
  const int64_t frame = static_cast<int64_t>(fact.atFrame);
  if (fact.hasTempo == 1) {
    if (held && transport_.hasTempo == 1 && fact.tempo != lastTempo_) {
      DiagnosticLifecycleEvent &event = recordLifecycle(DiagnosticLifecycleKind::tempoChanged, frame);
      event.addNumber("tempo", fact.tempo);
      event.addNumber("previous", lastTempo_);
      publishLastLifecycle();
    }
    lastTempo_ = fact.tempo;
  }
  if (fact.hasTimeSignature == 1) {
    if (held && transport_.hasTimeSignature == 1 &&
        (fact.numerator != lastNumerator_ || fact.denominator != lastDenominator_)) {
      DiagnosticLifecycleEvent &event = recordLifecycle(DiagnosticLifecycleKind::timeSignatureChanged, frame);
      event.addNumber("numerator", fact.numerator);
      event.addNumber("denominator", fact.denominator);
      event.addNumber("previousNumerator", lastNumerator_);
      event.addNumber("previousDenominator", lastDenominator_);
      publishLastLifecycle();
    }
    lastNumerator_ = fact.numerator;
    lastDenominator_ = fact.denominator;
  }
  const bool changed = !held || fact.differsFrom(transport_);
  transport_ = fact;
  transportValid_ = true;
  if (!subscribed(kFeedTransport)) return;
  if (!changed) {
    if (fact.playing != 1) return;
    if (lastTransportSentMs_ >= 0.0 && lifecycle_.nowMs() - lastTransportSentMs_ < transportRepeatIntervalMs()) {
      return;
    }
  }
  sendTransport(fact);
}

void NorvaController::adoptHostFacts(const HostFacts &facts) {
  HostFacts merged = facts;
  std::memcpy(merged.hostName, hostFacts_.hostName, sizeof merged.hostName);
  std::memcpy(merged.hostVersion, hostFacts_.hostVersion, sizeof merged.hostVersion);
  std::memcpy(merged.hostPath, hostFacts_.hostPath, sizeof merged.hostPath);
  merged.validatorHost = hostFacts_.validatorHost;
  const HostFacts previous = hostFacts_;
  hostFacts_ = merged;

  DiagnosticLifecycleKind kind{};
  if (diagnosticLifecycleKindFromName(diagnosticHostChangeKind(previous, hostFacts_), kind)) {
    addHostChangeFields(recordLifecycle(kind), kind, previous, hostFacts_);
    publishLastLifecycle();
  }
  if (!helloSent_ || !sink_) return;
  std::string text;
  if (writeDiagnosticHostChangedJson(text, previous, hostFacts_, hostChangedSeq_ + 1, lifecycle_.nowMs())) {
    ++hostChangedSeq_;
    sendToUi(text);
  }
}

void NorvaController::pollTransport() {
  if (sendToProcessor(kTransportPollMessage, nullptr, 0, false, kTransportPollResetAttribute,
                      transportResetPending_ ? 1 : 0)) {
    transportResetPending_ = false;
  }
}

void NorvaController::drainProcessorFeeds() { sendToProcessor(kFeedDrainMessage, nullptr, 0, false); }

void NorvaController::tickCadence() {
  pollTransport();
  drainProcessorFeeds();
}

} // namespace norva
