// The editor's side of the bridge: every inbound message is one JSON object
// whose "type" names it; parseBridgeMessage reads it into one flat record
// that holds every member any inbound type can carry. What the controller
// does with each type is its own business; this file fixes the wire form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "banks/pad_overrides.h"
#include "ccmap/cc_map.h"
#include "state/pattern_json.h"
#include "state/state_document.h"

namespace norva {

// Inbound message types. Any other type, or a known one without the members
// it needs, is ignored by the controller without a reply.
inline constexpr const char *kBridgeReady = "norva.ready";
inline constexpr const char *kBridgeSetParam = "norva.setParam";        // path, value
inline constexpr const char *kBridgeBeginEdit = "norva.beginEdit";      // path
inline constexpr const char *kBridgeEndEdit = "norva.endEdit";          // path
inline constexpr const char *kBridgeGetState = "norva.getState";
inline constexpr const char *kBridgeSetState = "norva.setState";        // state
inline constexpr const char *kBridgeSetCcMap = "norva.setCcMap";        // map
inline constexpr const char *kBridgeNoteOn = "norva.noteOn";            // note
inline constexpr const char *kBridgeNoteOff = "norva.noteOff";          // note
inline constexpr const char *kBridgeLoadFactoryPreset = "norva.loadFactoryPreset";  // id
inline constexpr const char *kBridgeLoadBank = "norva.loadBank";  // source, id, bankPath, instrument, url, sha256
inline constexpr const char *kBridgeLoadBankPreset = "norva.loadBankPreset";  // id
inline constexpr const char *kBridgePickFolder = "norva.pickFolder";
inline constexpr const char *kBridgeGetBankState = "norva.getBankState";
inline constexpr const char *kBridgeSetPadOverrides = "norva.setPadOverrides";  // pads
inline constexpr const char *kBridgeDiagSubscribe = "norva.diag.subscribe";      // feeds, hz
inline constexpr const char *kBridgeDiagUnsubscribe = "norva.diag.unsubscribe";
inline constexpr const char *kBridgeDiagStimulus = "norva.diag.stimulus";  // stimulus
// The authored plane (answered with the echoes below).
inline constexpr const char *kBridgeSetStepField = "norva.setStepField";        // pattern, step, field, value
inline constexpr const char *kBridgeSetPatternField = "norva.setPatternField";  // pattern, field, value
inline constexpr const char *kBridgeSetPattern = "norva.setPattern";            // pattern, data
inline constexpr const char *kBridgeCopyPattern = "norva.copyPattern";          // pattern
inline constexpr const char *kBridgePastePattern = "norva.pastePattern";        // pattern
inline constexpr const char *kBridgeClearPattern = "norva.clearPattern";        // pattern
inline constexpr const char *kBridgeDuplicatePattern = "norva.duplicatePattern";  // pattern, to
inline constexpr const char *kBridgeGetPlane = "norva.getPlane";

// Diagnostic feeds an editor can subscribe to, one bit each.
enum DiagnosticFeed : uint32_t {
  kFeedHost = 1u << 0,
  kFeedTransport = 1u << 1,
  kFeedMidiIn = 1u << 2,
  kFeedMidiOut = 1u << 3,
  kFeedMeters = 1u << 4,
  kFeedScope = 1u << 5,
  kFeedLifecycle = 1u << 6,
  kFeedCounters = 1u << 7,
  kFeedParams = 1u << 8,
  kFeedPresets = 1u << 9,
  kFeedClock = 1u << 10,
};

// The feed's bit for its name ("host", "transport", ...), compared byte for
// byte; 0 for any other.
uint32_t diagnosticFeedBit(std::string_view name);

enum class DiagnosticCommand : uint8_t { none = 0, subscribe = 1, unsubscribe = 2, stimulus = 3 };

// The parameters of a test stimulus. The bridge reads only its kind; nothing
// in this plug-in acts on one.
struct DiagnosticStimulusFact {
  double frequencyHz = 440.0;
};

struct BridgeMessage {
  std::string type;
  std::string path;       // a parameter id ("tindrel.bpm")
  std::string id;         // a preset id or bank id
  std::string source;     // a bank source name
  std::string bankPath;   // a folder path
  std::string url;        // a hosted bank address
  std::string sha256;     // a pinned digest
  std::string instrument; // an instrument or kit id
  double value = 0.0;     // plain parameter value
  bool hasValue = false;
  double note = 0.0;
  double velocity = 0.0;
  StateChunk state;
  bool hasState = false;
  CcMap map;
  bool hasMap = false;
  SamplerPadOverrides pads;
  bool hasPads = false;
  DiagnosticCommand diagnosticCommand = DiagnosticCommand::none;
  uint32_t feeds = 0;
  double hz = 0.0;
  std::string stimulusKind;
  DiagnosticStimulusFact stimulus;
  // The authored plane's messages: pattern and step indices, a target
  // pattern, a field name and a whole pattern (absent members of "data" are
  // the factory pattern's).
  double pattern = 0.0;
  bool hasPattern = false;
  double step = 0.0;
  bool hasStep = false;
  double to = 0.0;
  bool hasTo = false;
  std::string field;
  AuthoredPattern data;
  bool hasData = false;
};

// Reads one inbound text into out, which must be freshly made. False for a
// malformed text (null included); the caller drops it and reports it with
// reportMalformedBridgeMessage. On failure out holds whatever was read.
bool parseBridgeMessage(const char *text, size_t length, BridgeMessage &out);

// The one console line for a dropped inbound text, with its length in bytes.
inline constexpr const char kBridgeMalformedMessageLine[] =
    "norva-plugin-shell: malformed bridge message (%zu bytes)\n";
// Prints that line to standard error.
void reportMalformedBridgeMessage(size_t length);

} // namespace norva
