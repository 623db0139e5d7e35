// Messages to the editor that the bridge protocol itself lays out: the hello
// that answers "norva.ready", a parameter change, the state document and a
// runtime report. Each writer appends one complete JSON object with no white
// space between tokens; the controller hands it to the bridge sink. (The
// other outbound types are laid out next to what they report: the CC map,
// host facts, the lifecycle log, the banks.)
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "ccmap/cc_map.h"
#include "diagnostics/diagnostic_reports.h"
#include "diagnostics/host_facts.h"
#include "params/params.h"
#include "state/pattern_json.h"

namespace norva {

inline constexpr const char *kBridgeHello = "norva.hello";
inline constexpr const char *kBridgeParamChanged = "norva.paramChanged";
inline constexpr const char *kBridgeState = "norva.state";
inline constexpr const char *kBridgeRuntimeDiagnostics = "norva.runtimeDiagnostics";
inline constexpr const char *kBridgePattern = "norva.pattern";
inline constexpr const char *kBridgePlane = "norva.plane";
inline constexpr const char *kBridgeRefused = "norva.refused";
inline constexpr const char *kBridgeClipboard = "norva.clipboard";
// The console line of a refused editor message, with its type and reason.
inline constexpr const char kBridgeRefusedLine[] = "norva-plugin-shell: bridge %s refused: %s\n";

// The hello's "plugin" block; the controller fills it from the plug-in's
// identity. Null texts are written empty.
using BridgePluginFacts = PluginIdentityFacts;

// What the hello reports: the controller's parameters, map and runtime
// report, then its diagnostic blocks (diagnostics/diagnostic_reports.h).
struct BridgeHello {
  BridgePluginFacts plugin;
  std::array<double, kParamCount> normalized{};  // the controller's current values, by catalogue row
  const CcMap *ccMap = nullptr;                  // null: the controller holds no map
  std::string_view runtimeHealth{};              // the processor's last health report; empty: none received
  DiagnosticTarget target = DiagnosticTarget::vst3;
  const HostFacts *host = nullptr;            // null: none known; written only when its sample rate is above 0
  const PresetStateFacts *presetState = nullptr;  // null: a fresh controller's
};

// {"type":"norva.hello","plugin":{...},"params":[...],"factoryPresets":[], then
// the optional CC map and runtime report, then the hello blocks of
// appendDiagnosticHelloBlocks: identity, optional host object, diagnostics
// capabilities and preset state.
void writeBridgeHelloJson(std::string &out, const BridgeHello &hello);

// {"type":"norva.paramChanged","path":...,"value":<plain>,"normalized":...}
// for a catalogue row (ids 0..kParamCount-1); any other id writes nothing and
// gives false. The plain value comes from the catalogue's conversion.
bool writeBridgeParamChangedJson(std::string &out, uint32_t id, double normalized);

// {"type":"norva.state","state":<document>}; an empty document is written as {}.
void writeBridgeStateJson(std::string &out, std::string_view stateDocument);

// "norva.pattern": {"type":"norva.pattern","pattern":<pattern object>}, the
// echo of every change of one pattern, with the values as stored and, for
// the selected pattern, its velocities and length as the parameters hold them.
void writeBridgePatternJson(std::string &out, int index, const AuthoredPattern &pattern);
// "norva.plane": {"type":"norva.plane","patterns":[32 pattern objects]}, the
// same for every pattern: the answer to "norva.getPlane" and a restored state.
void writeBridgePlaneJson(std::string &out, const uint8_t (&plane)[kPlaneBytes]);

// {"type":"norva.refused","request":<the refused message's type>,"reason":<why>}:
// the answer to an editor message that was refused and changed nothing.
void writeBridgeRefusedJson(std::string &out, std::string_view request, std::string_view reason);

// {"type":"norva.clipboard","holds":false}, or {"type":"norva.clipboard",
// "holds":true,"pattern":<the pattern it was copied from, 0..31>,"data":<the
// pattern object copied>}; `copiedFrom` -1 is an empty clipboard.
void writeBridgeClipboardJson(std::string &out, int copiedFrom, const AuthoredPattern &copy);

// {"type":"norva.runtimeDiagnostics","report":<report>}, the report as it was
// received; an empty one is written as {}.
void writeBridgeRuntimeDiagnosticsJson(std::string &out, std::string_view report);

}  // namespace norva
