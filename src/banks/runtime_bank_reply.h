// The two messages of a runtime-bank load between controller and processor.
//
// The request ("norva.loadRuntimeBank"): up to four fields separated by line
// feeds: source, bank folder, pinned SHA-256, instrument id; missing trailing
// fields are empty.
//
// The reply ("norva.runtimeBankResult"): lines separated by line feeds,
// fields by tabs. Line 1 the outcome name, line 2 the error text; with a
// bank, its chosen instrument (id, name, list), one line per positioning
// (id, name, list) and one per preset (0x01 and the id, name, instrument,
// and the parameters as key=value items separated by 0x1F, values printed
// as "%.17g").
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "banks/runtime_bank.h"

namespace norva {

inline constexpr const char *kLoadRuntimeBankMessage = "norva.loadRuntimeBank";
inline constexpr const char *kRuntimeBankResultMessage = "norva.runtimeBankResult";

inline constexpr char kBankWireLineBreak = '\n';
inline constexpr char kBankReplyFieldBreak = '\t';
inline constexpr char kBankReplyPresetMark = '\x01';
inline constexpr char kBankReplyItemBreak = '\x1f';
inline constexpr char kBankReplyItemEquals = '=';
// The outcome line of a reply whose encoder was given no outcome name.
inline constexpr const char *kBankReplyNoOutcome = "missing";

struct RuntimeBankRequest {
  std::string source;
  std::string folder;
  std::string sha256;
  std::string instrument;
};

// False (out untouched) when a field holds a line feed: it cannot travel.
bool encodeRuntimeBankRequest(const RuntimeBankRequest &request, std::string &out);
// Never fails: fields after the fourth are ignored, missing ones are empty.
RuntimeBankRequest decodeRuntimeBankRequest(std::string_view text);

// outcomeName null is written as "missing"; bank may be null.
//
// Every text is copied as it is, except the bytes that would break the
// layout: a tab, line feed, 0x1F or 0x01 in any text, and a "=" in a
// parameter key, each become a space. The record still arrives (its id may
// then name nothing the bank knows, which the next request reports) rather
// than vanishing from the editor's lists. A parameter whose value is not
// finite is left out: it could be no parameter's value.
std::string encodeRuntimeBankReply(const char *outcomeName, const std::string &error, const StagedBank *bank);

struct RuntimeBankReplyPreset {
  std::string id;
  std::string name;
  std::string instrument;
  std::vector<std::pair<std::string, double>> params;
};

// A reply read back as the bank control adopts it. Only an "ok" reply has
// lines after the first that mean anything: every non-empty one is read
// (the error line is empty on success); a line opening with 0x01 is a preset,
// the first other line the chosen instrument (its first three fields), and
// every later other line a positioning, kept whole.
struct RuntimeBankReply {
  std::string outcome;
  std::string error; // the second line, read only when the outcome is not "ok"
  std::string instrumentId;
  std::string instrumentName;
  std::string instrumentList;
  std::vector<std::string> positionings; // "id\tname\tlist"
  std::vector<RuntimeBankReplyPreset> presets;

  bool ok() const;
};

// Never fails: every text reads as some reply. A parameter item without a
// "=", or whose value is not wholly a finite number, is left out.
RuntimeBankReply decodeRuntimeBankReply(std::string_view text);

// A preset parameter value as "%.17g" prints it in the C locale, whatever
// the host's locale is.
void appendPresetValue(std::string &out, double value);

// Splits text at sep into exactly count fields (missing ones empty; the last
// field ends at the next sep too, so anything after it is ignored).
std::vector<std::string_view> splitBankFields(std::string_view text, char sep, size_t count);

} // namespace norva
