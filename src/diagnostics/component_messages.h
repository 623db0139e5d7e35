// The messages between the two halves of the plug-in, processor and
// controller. Each is a VST 3 message whose payload, when it has one, is a
// binary attribute named "json" (a JSON text, a plain record's bytes or a
// few lines of text, as each message says). The bank request and its reply
// are named with the bank reply (banks/runtime_bank_reply.h).
#pragma once

#include <cstddef>

namespace norva {

inline constexpr const char *kMessagePayloadAttribute = "json";

// Controller to processor.
inline constexpr const char *kCcMapMessage = "norva.ccMap";                  // the CC map's JSON
inline constexpr const char *kPadOverridesMessage = "norva.padOverrides";    // pad overrides JSON
inline constexpr const char *kPresetLoadedMessage = "norva.diag.presetLoaded";  // the preset id
inline constexpr const char *kTransportPollMessage = "norva.diag.transportPoll";  // integer attribute below
inline constexpr const char *kTransportPollResetAttribute = "reset";  // 1: resend everything, else 0
inline constexpr const char *kFeedDrainMessage = "norva.diag.feedDrain";  // no attributes
inline constexpr const char *kResetCountersMessage = "norva.diag.resetCounters";  // no attributes
inline constexpr const char *kStageResourceSlotMessage = "norva.stageResourceSlot";  // refused
inline constexpr const char *kPlaneFieldMessage = "norva.planeField";  // a PlaneFieldSet's 8 bytes
inline constexpr const char *kPlaneMessage = "norva.plane";            // a whole plane's byte form

// Processor to controller.
inline constexpr const char *kLifecycleKindMessage = "norva.diag.lifecycle";  // a lifecycle kind's name
inline constexpr const char *kTransportFactMessage = "norva.diag.transport";  // a TransportFact's bytes
inline constexpr const char *kSignalMessage = "norva.diag.signal";             // read and dropped
inline constexpr const char *kHostFactsMessage = "norva.diag.hostFacts";       // a HostFacts' bytes
inline constexpr const char *kRuntimeDiagnosticsMessage = "norva.runtimeDiagnostics";  // the health report

// Sizes of the texts the controller takes from the processor.
inline constexpr size_t kLifecycleKindNameMaxBytes = 63;
inline constexpr size_t kRuntimeReportMaxBytes = 65536;

} // namespace norva
