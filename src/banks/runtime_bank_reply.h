// The processor's answer to a runtime-bank request ("norva.runtimeBankResult"):
// lines separated by line feeds, fields by tabs. Line 1 the outcome name,
// line 2 the error text; with a bank, its chosen instrument, one line per
// positioning and one per preset (0x01, id, name, instrument, and the
// parameters as key=value items separated by 0x1F).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "banks/runtime_bank.h"

namespace norva {

// outcomeName null is written as "missing"; bank may be null.
std::string encodeRuntimeBankReply(const char *outcomeName, const std::string &error, const StagedBank *bank);

struct RuntimeBankReplyPreset {
  std::string id;
  std::string name;
  std::string instrument;
  std::vector<std::pair<std::string, double>> params;
};

// A reply read back: the outcome name, the chosen instrument's three fields,
// the later non-preset lines whole, and the presets.
struct RuntimeBankReply {
  std::string outcome;
  std::string error;
  std::string instrumentId;
  std::string instrumentName;
  std::string instrumentList;
  std::vector<std::string> positionings; // "id\tname\tlist"
  std::vector<RuntimeBankReplyPreset> presets;
};

// Never fails: every text reads as some reply.
RuntimeBankReply decodeRuntimeBankReply(const std::string &text);

} // namespace norva
