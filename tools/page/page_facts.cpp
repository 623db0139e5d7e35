// norva-page-facts FILE: writes the editor page's facts module (facts.js)
// from the plug-in's own declarations. Texts that the plug-in declares only
// inside a writer (some message types, the CC map's curve, value mode and
// takeover texts, the factory pattern) are taken from what that writer writes, so that the page
// and the plug-in cannot drift apart.
#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

#include "banks/bank_source.h"
#include "banks/control/bank_control.h"
#include "banks/pad_overrides.h"
#include "banks/runtime_bank.h"
#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "ccmap/cc_activity_feed.h"
#include "ccmap/cc_map.h"
#include "diagnostics/host_facts.h"
#include "diagnostics/lifecycle_log.h"
#include "formats/json.h"
#include "kernel/kernel_state.h"
#include "params/authored_plane.h"
#include "params/params.h"
#include "state/pattern_json.h"

namespace {

using namespace norva;

// The string value of the first member named key in a JSON text a writer of
// the plug-in wrote (no white space, no escapes in these texts); empty when
// there is none.
std::string memberText(std::string_view json, std::string_view key) {
  const std::string opening = "\"" + std::string(key) + "\":\"";
  const size_t at = json.find(opening);
  if (at == std::string_view::npos) return {};
  const size_t start = at + opening.size();
  return std::string(json.substr(start, json.find('"', start) - start));
}

class Module {
public:
  void line(std::string_view text) {
    out_ += text;
    out_ += '\n';
  }
  // export const NAME = {"key":"text",...};
  template <typename Pairs> void textObject(const char *name, const Pairs &pairs) {
    out_ += "export const ";
    out_ += name;
    out_ += " = Object.freeze({";
    bool first = true;
    for (const auto &[key, text] : pairs) {
      out_ += first ? "" : ", ";
      first = false;
      jsonAppendQuoted(out_, key);
      out_ += ": ";
      jsonAppendQuoted(out_, text);
    }
    out_ += "});\n";
  }
  std::string &text() { return out_; }

private:
  std::string out_;
};

using Pair = std::pair<std::string, std::string>;

void writeParams(Module &m) {
  std::string &out = m.text();
  out += "// The parameter catalogue, by id: key, title, group, range, snapping step\n"
         "// (0: none), default and units, all in plain values; names of the values\n"
         "// from min up, where they have them.\n"
         "export const PARAMS = Object.freeze([\n";
  for (const norva_param_desc &row : NORVA_PARAMS) {
    out += "  {\"id\": ";
    jsonAppendNumber(out, row.id);
    out += ", \"key\": ";
    jsonAppendQuoted(out, row.key);
    out += ", \"title\": ";
    jsonAppendQuoted(out, row.title);
    out += ", \"group\": ";
    jsonAppendQuoted(out, row.group);
    out += ", \"min\": ";
    jsonAppendNumber(out, row.min);
    out += ", \"max\": ";
    jsonAppendNumber(out, row.max);
    out += ", \"step\": ";
    jsonAppendNumber(out, row.step);
    out += ", \"default\": ";
    jsonAppendNumber(out, row.defaultPlain);
    out += ", \"units\": ";
    jsonAppendQuoted(out, row.units);
    if (row.labels != nullptr) {
      out += ", \"names\": [";
      for (int32_t i = 0; i < row.labelCount; ++i) {
        out += i != 0 ? ", " : "";
        jsonAppendQuoted(out, row.labels[i]);
      }
      out += "]";
    }
    out += "},\n";
  }
  out += "]);\n";
  out += "// Common scales by name, as the degrees above the key root they hold.\n"
         "export const SCALE_PRESETS = Object.freeze([\n";
  for (const ScalePreset &scale : kScalePresets) {
    out += "  [";
    jsonAppendQuoted(out, scale.name);
    out += ", [";
    for (int degree = 0, n = 0; degree < kPitchClasses; ++degree) {
      if ((scale.mask >> degree & 1u) == 0) continue;
      out += n++ != 0 ? ", " : "";
      jsonAppendNumber(out, degree);
    }
    out += "]],\n";
  }
  out += "]);\n";
  // The settings' keys by the name after the last ".": KEY.bpm is "tindrel.bpm".
  out += "export const KEY = Object.freeze({";
  for (uint32_t i = 0; i < kParamCount; ++i) {
    if (i >= kParamFirstStepVelocity && i < kKernelParamCount) continue;
    const std::string_view key = NORVA_PARAMS[i].key;
    out += i != 0 ? ", " : "";
    jsonAppendQuoted(out, key.substr(key.rfind('.') + 1));
    out += ": ";
    jsonAppendQuoted(out, key);
  }
  out += "});\n";
  out += "export const FIRST_STEP_PARAM = ";
  jsonAppendNumber(out, kParamFirstStepVelocity);
  out += ";\nexport const STEP_COUNT = ";
  jsonAppendNumber(out, kStepVelocityParamCount);
  out += ";\n";
  out += "// Steps per beat by resolution value, as the sequencer counts them.\n"
         "export const STEPS_PER_BEAT = Object.freeze([";
  for (size_t i = 0; i < std::size(kernel::kStepsPerBeatMicros); ++i) {
    out += i != 0 ? ", " : "";
    jsonAppendNumber(out, kernel::kStepsPerBeatMicros[i] / 1e6);
  }
  out += "]);\n";
}

void writeMessages(Module &m) {
  m.line("// Message types the page sends.");
  m.textObject("SEND", std::initializer_list<Pair>{
                           {"ready", kBridgeReady},
                           {"setParam", kBridgeSetParam},
                           {"beginEdit", kBridgeBeginEdit},
                           {"endEdit", kBridgeEndEdit},
                           {"getState", kBridgeGetState},
                           {"setState", kBridgeSetState},
                           {"setCcMap", kBridgeSetCcMap},
                           {"loadBank", kBridgeLoadBank},
                           {"loadBankPreset", kBridgeLoadBankPreset},
                           {"pickFolder", kBridgePickFolder},
                           {"getBankState", kBridgeGetBankState},
                           {"setPadOverrides", kBridgeSetPadOverrides},
                           {"subscribe", kBridgeDiagSubscribe},
                           {"unsubscribe", kBridgeDiagUnsubscribe},
                           {"setStepField", kBridgeSetStepField},
                           {"setPatternField", kBridgeSetPatternField},
                           {"setPattern", kBridgeSetPattern},
                           {"copyPattern", kBridgeCopyPattern},
                           {"pastePattern", kBridgePastePattern},
                           {"clearPattern", kBridgeClearPattern},
                           {"duplicatePattern", kBridgeDuplicatePattern},
                           {"getPlane", kBridgeGetPlane},
                       });
  std::string ccMapChanged, midiCc, transport, hostChanged, pattern, plane;
  uint8_t factory[kPlaneBytes];
  writeFactoryPlane(factory);
  writeBridgePatternJson(pattern, 0, patternOfPlane(factory, 0));
  writeBridgePlaneJson(plane, factory);
  writeCcMapChangedJson(ccMapChanged, CcMap{});
  writeMidiCcJson(midiCc, CcActivityRecord{});
  writeDiagnosticTransportJson(transport, TransportFact{});
  HostFacts before, after;
  after.sampleRate = 48000;
  writeDiagnosticHostChangedJson(hostChanged, before, after, 1, 0);
  m.line("// Message types the controller sends.");
  m.textObject("RECEIVE", std::initializer_list<Pair>{
                              {"hello", kBridgeHello},
                              {"paramChanged", kBridgeParamChanged},
                              {"state", kBridgeState},
                              {"runtimeDiagnostics", kBridgeRuntimeDiagnostics},
                              {"ccMapChanged", memberText(ccMapChanged, "type")},
                              {"midiCc", memberText(midiCc, "type")},
                              {"folderPicked", kFolderPickedMessage},
                              {"bankState", kBankStateMessage},
                              {"hostChanged", memberText(hostChanged, "type")},
                              {"transport", memberText(transport, "type")},
                              {"lifecycle", kDiagnosticLifecycleMessageType},
                              {"pattern", memberText(pattern, "type")},
                              {"plane", memberText(plane, "type")},
                              {"refused", kBridgeRefused},
                              {"clipboard", kBridgeClipboard},
                          });
}

// The feeds the page follows; a name the plug-in does not know stops the
// build rather than a subscription that silently gets nothing.
bool writeFeeds(Module &m) {
  const char *const names[] = {"host", "transport", "lifecycle", "midiIn"};
  std::string &out = m.text();
  out += "// Diagnostic feeds the page subscribes to.\nexport const FEEDS = Object.freeze({";
  bool first = true;
  for (const char *name : names) {
    if (diagnosticFeedBit(name) == 0) {
      std::fprintf(stderr, "norva-page-facts: the plug-in has no feed named %s\n", name);
      return false;
    }
    out += first ? "" : ", ";
    first = false;
    jsonAppendQuoted(out, name);
    out += ": ";
    jsonAppendQuoted(out, name);
  }
  out += "});\n";
  return true;
}

// The JSON text of each value of one binding field, as the map's writer
// writes it; "" where the writer leaves the member out (the default).
template <typename Enum, typename Set>
void writeBindingTexts(Module &m, const char *name, const char *member, int count, Set set) {
  std::string &out = m.text();
  out += "export const ";
  out += name;
  out += " = Object.freeze([";
  for (int i = 0; i < count; ++i) {
    CcMap map;
    map.count = 1;
    set(map.bindings[0], static_cast<Enum>(i));
    std::string json;
    writeCcMapJson(json, map);
    out += i != 0 ? ", " : "";
    jsonAppendQuoted(out, memberText(json, member));
  }
  out += "]);\n";
}

void writeCcMap(Module &m) {
  std::string &out = m.text();
  out += "// The CC map: capacity, controller numbers and values, and the texts of\n"
         "// each curve, value mode and takeover by value (\"\": the default, not written).\n"
         "export const CC_MAP_CAPACITY = ";
  jsonAppendNumber(out, kCcMapCapacity);
  out += ";\nexport const MIDI_CC_COUNT = ";
  jsonAppendNumber(out, kMidiCcCount);
  out += ";\nexport const MIDI_CC_VALUE_MAX = ";
  jsonAppendNumber(out, kMidiCcValueMax);
  out += ";\n";
  writeBindingTexts<CcCurve>(m, "CC_CURVES", "curve", 4, [](CcBinding &b, CcCurve v) { b.curve = v; });
  writeBindingTexts<CcValueMode>(m, "CC_VALUE_MODES", "valueMode", 5,
                                 [](CcBinding &b, CcValueMode v) { b.valueMode = v; });
  writeBindingTexts<CcTakeover>(m, "CC_TAKEOVERS", "takeover", 3, [](CcBinding &b, CcTakeover v) { b.takeover = v; });
}

// One field's name and the whole values it holds, lowest to highest.
void appendField(std::string &out, const char *name, int min, int max) {
  out += "  {\"name\": ";
  jsonAppendQuoted(out, name);
  out += ", \"min\": ";
  jsonAppendNumber(out, min);
  out += ", \"max\": ";
  jsonAppendNumber(out, max);
  out += "},\n";
}

void writePlane(Module &m) {
  std::string &out = m.text();
  out += "// The authored plane: patterns, steps per pattern, a step's fields and a\n"
         "// pattern's own fields in the order of the byte form, with the values each\n"
         "// holds (resolution and direction: 0 is the global one, n the setting's n - 1),\n"
         "// and the factory pattern that clearing a pattern brings back.\n"
         "export const PLANE_PATTERNS = ";
  jsonAppendNumber(out, kPlanePatterns);
  out += ";\nexport const PLANE_STEPS = ";
  jsonAppendNumber(out, kPlaneSteps);
  out += ";\nexport const STEP_FIELDS = Object.freeze([\n";
  for (int field = 0; field < kStepFieldCount; ++field) {
    int min = heldStepValue(field, 0), max = min;
    for (int byte = 0; byte <= kStepFieldByteMax; ++byte) {
      min = std::min<int>(min, heldStepValue(field, byte));
      max = std::max<int>(max, heldStepValue(field, byte));
    }
    appendField(out, kStepFieldNames[field], min, max);
  }
  out += "]);\nexport const PATTERN_FIELDS = Object.freeze([\n";
  for (int field = 0; field < kPatternFieldCount; ++field)
    appendField(out, kPatternFieldNames[field], kPatternFieldMin[field], kPatternFieldMax[field]);
  out += "]);\nexport const FACTORY_PATTERN = ";
  uint8_t factory[kPlaneBytes];
  writeFactoryPlane(factory);
  writePatternJson(out, 0, patternOfPlane(factory, 0));
  out += ";\n";
}

void writeBanks(Module &m) {
  m.line("// Bank sources, the reasons of a bank state and its error codes.");
  m.textObject("BANK_SOURCES", std::initializer_list<Pair>{{"userFolder", kBankSourceUserFolder},
                                                           {"hosted", kBankSourceHosted}});
  m.textObject("BANK_REASONS", std::initializer_list<Pair>{{"query", kBankReasonQuery},
                                                           {"loadBank", kBankReasonLoadBank},
                                                           {"setPadOverrides", kBankReasonSetPadOverrides},
                                                           {"restore", kBankReasonRestore}});
  std::string &out = m.text();
  out += "export const BANK_ERRORS = Object.freeze({";
  const int outcomes[] = {kBankMissing, kBankHashMismatch, kBankMalformed, kBankUnsupportedCodec, kBankTooLarge,
                          kBankInstrumentUnknown};
  const char *const names[] = {"missing", "hashMismatch", "malformed", "unsupportedCodec", "tooLarge",
                               "instrumentUnknown"};
  for (size_t i = 0; i < std::size(outcomes); ++i) {
    jsonAppendQuoted(out, names[i]);
    out += ": ";
    jsonAppendQuoted(out, runtimeBankOutcomeName(outcomes[i]));
    out += ", ";
  }
  out += "\"fetchFailed\": ";
  jsonAppendQuoted(out, kBankFetchFailed);
  out += "});\n";
  out += "// Pad override settings in the order they are written: key, accepted\n"
         "// range and rule (\"range\", \"whole\" or \"zeroOrOne\").\n"
         "export const PAD_SETTINGS = Object.freeze([\n";
  const char *const rules[] = {"range", "whole", "zeroOrOne"};
  for (size_t i = 0; i < kPadSettingCount; ++i) {
    const PadSettingFacts setting = padSettingFacts(i);
    out += "  {\"key\": ";
    jsonAppendQuoted(out, setting.key);
    out += ", \"min\": ";
    jsonAppendNumber(out, setting.min);
    out += ", \"max\": ";
    jsonAppendNumber(out, setting.max);
    out += ", \"rule\": ";
    jsonAppendQuoted(out, rules[static_cast<int>(setting.rule)]);
    out += "},\n";
  }
  out += "]);\n";
}

void writeLifecycle(Module &m) {
  std::string &out = m.text();
  out += "// Lifecycle event kinds by value.\nexport const LIFECYCLE_KINDS = Object.freeze([";
  for (uint32_t i = 0; i < kDiagnosticLifecycleKindCount; ++i) {
    out += i != 0 ? ", " : "";
    jsonAppendQuoted(out, diagnosticLifecycleKindName(static_cast<DiagnosticLifecycleKind>(i)));
  }
  out += "]);\n";
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: norva-page-facts FILE\n");
    return 2;
  }
  Module m;
  m.line("// The editor page's facts, written by the build from the plug-in's own");
  m.line("// declarations (norva-page-facts). Not to be edited.");
  writeParams(m);
  writeMessages(m);
  if (!writeFeeds(m)) return 1;
  writeCcMap(m);
  writePlane(m);
  writeBanks(m);
  writeLifecycle(m);

  std::FILE *file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "norva-page-facts: cannot write %s\n", argv[1]);
    return 1;
  }
  const std::string &text = m.text();
  const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !ok) {
    std::fprintf(stderr, "norva-page-facts: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
