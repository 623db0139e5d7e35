#include "bridge/bridge_outbound.h"

#include "formats/json.h"

namespace norva {
namespace {

const char *orEmpty(const char *text) { return text != nullptr ? text : ""; }

// A JSON object built elsewhere, copied as it is; {} when there is none.
void appendObjectText(std::string &out, std::string_view object) {
  if (object.empty()) {
    out += "{}";
  } else {
    out += object;
  }
}

void appendTypeOpening(std::string &out, const char *type) {
  out += "{\"type\":";
  jsonAppendQuoted(out, type);
}

// One parameter's members: "path":...,"value":<plain>,"normalized":...
void appendParamMembers(std::string &out, const norva_param_desc &row, double normalized) {
  out += "\"path\":";
  jsonAppendQuoted(out, row.key);
  out += ",\"value\":";
  jsonAppendNumber(out, paramToPlain(row, normalized));
  out += ",\"normalized\":";
  jsonAppendNumber(out, normalized);
}

}  // namespace

void writeBridgeHelloJson(std::string &out, const BridgeHello &hello) {
  appendTypeOpening(out, kBridgeHello);
  out += ",\"plugin\":{\"id\":";
  jsonAppendQuoted(out, orEmpty(hello.plugin.moduleId));
  out += ",\"name\":";
  jsonAppendQuoted(out, orEmpty(hello.plugin.name));
  out += ",\"vendor\":";
  jsonAppendQuoted(out, orEmpty(hello.plugin.vendor));
  out += ",\"version\":";
  jsonAppendQuoted(out, orEmpty(hello.plugin.version));
  out += '}';

  out += ",\"params\":[";
  for (uint32_t i = 0; i < kParamCount; ++i) {
    out += i != 0 ? ",{" : "{";
    appendParamMembers(out, NORVA_PARAMS[i], hello.normalized[i]);
    out += '}';
  }
  out += "],\"factoryPresets\":[]";

  if (hello.ccMap != nullptr) {
    out += ",\"ccMap\":";
    writeCcMapJson(out, *hello.ccMap);
  }
  if (!hello.runtimeHealth.empty()) {
    out += ",\"runtimeHealth\":";
    out += hello.runtimeHealth;
  }
  appendDiagnosticHelloBlocks(out, hello.plugin, hello.target, hello.host != nullptr ? *hello.host : HostFacts(),
                              hello.presetState != nullptr ? *hello.presetState : PresetStateFacts());
  out += '}';
}

bool writeBridgeParamChangedJson(std::string &out, uint32_t id, double normalized) {
  if (id >= kParamCount) return false;
  appendTypeOpening(out, kBridgeParamChanged);
  out += ',';
  appendParamMembers(out, NORVA_PARAMS[id], normalized);
  out += '}';
  return true;
}

void writeBridgeStateJson(std::string &out, std::string_view stateDocument) {
  appendTypeOpening(out, kBridgeState);
  out += ",\"state\":";
  appendObjectText(out, stateDocument);
  out += '}';
}

void writeBridgeRuntimeDiagnosticsJson(std::string &out, std::string_view report) {
  appendTypeOpening(out, kBridgeRuntimeDiagnostics);
  out += ",\"report\":";
  appendObjectText(out, report);
  out += '}';
}

void writeBridgePatternJson(std::string &out, int index, const AuthoredPattern &pattern) {
  out += "{\"type\":\"";
  out += kBridgePattern;
  out += "\",\"pattern\":";
  writePatternJson(out, index, pattern);
  out += '}';
}

void writeBridgePlaneJson(std::string &out, const uint8_t (&plane)[kPlaneBytes]) {
  out += "{\"type\":\"";
  out += kBridgePlane;
  out += "\",\"patterns\":[";
  for (int p = 0; p < kPlanePatterns; ++p) {
    if (p != 0) out += ',';
    writePatternJson(out, p, patternOfPlane(plane, p));
  }
  out += "]}";
}

void writeBridgeRefusedJson(std::string &out, std::string_view request, std::string_view reason) {
  out += "{\"type\":\"";
  out += kBridgeRefused;
  out += "\",\"request\":";
  jsonAppendQuoted(out, request);
  out += ",\"reason\":";
  jsonAppendQuoted(out, reason);
  out += '}';
}

void writeBridgeClipboardJson(std::string &out, int copiedFrom, const AuthoredPattern &copy) {
  out += "{\"type\":\"";
  out += kBridgeClipboard;
  if (copiedFrom < 0) {
    out += "\",\"holds\":false}";
    return;
  }
  out += "\",\"holds\":true,\"pattern\":";
  out += std::to_string(copiedFrom);
  out += ",\"data\":";
  writePatternJson(out, copiedFrom, copy);
  out += '}';
}

}  // namespace norva
