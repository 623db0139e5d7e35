// The diagnostic bridge: plain functions the bundle exports under unmangled
// names so that a test harness which has loaded the plug-in can talk to its
// controller without a web view. The controller defines them; a harness that
// loads the bundle with dlopen takes their types from these declarations
// (decltype(&norvaDeliverDiagnosticBridgeMessage)) and never links them.
//
// Each function that takes an object answers 0, and does nothing else, for a
// null object or any object that is not a live controller of this very
// module, whatever interfaces it answers. They run controller code that is
// not locked: call them on the thread that owns the controller.
#pragma once

#include <cstddef>

#include "vst3/abi/funknown.h"

namespace norva {

// What norvaDiagnosticBridgeAbiVersion answers: the version of this table.
inline constexpr int kDiagnosticBridgeAbiVersion = 2;

// Takes one outbound editor message: length bytes of JSON at json, followed
// by a NUL that length does not count. The text lives only for the call.
using DiagnosticBridgeSink = void (*)(void *context, const char *json, size_t length);

} // namespace norva

#define NORVA_DIAGNOSTIC_BRIDGE_EXPORT extern "C" __attribute__((visibility("default")))

NORVA_DIAGNOSTIC_BRIDGE_EXPORT int norvaDiagnosticBridgeAbiVersion();
// A non-null sink replaces the controller's bridge sink (also an editor's);
// a null one removes it. 1 when controller is a controller of this module.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT int norvaInstallDiagnosticBridgeSink(Steinberg::FUnknown *controller,
                                                                    norva::DiagnosticBridgeSink sink, void *context);
// One inbound editor message. 0 also when json is null.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT int norvaDeliverDiagnosticBridgeMessage(Steinberg::FUnknown *controller,
                                                                       const char *json, size_t length);
// One cadence tick: a transport poll, then a feed drain, to the processor.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT int norvaTickDiagnosticCadence(Steinberg::FUnknown *controller);
// The editor folder (Resources/ui beside the binary, holding index.html), or
// an empty text. The text stays valid until the next call on the same thread.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT const char *norvaPluginUiRootForDiagnostics();
// A repeating clock calling callback(context) every intervalSeconds on the
// host's user-interface thread, on the run loop the newest live controller's
// host (or an attached editor's frame) offered. An opaque handle, or null
// when callback is null, the interval is not a number above 0 and at most a
// day, or no host offered a run loop. Rounded to whole milliseconds.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT void *norvaStartCadenceClock(void (*callback)(void *), void *context,
                                                            double intervalSeconds);
// Stops and frees a clock; null and anything this module did not hand out
// (or already stopped) are ignored.
NORVA_DIAGNOSTIC_BRIDGE_EXPORT void norvaStopCadenceClock(void *handle);
