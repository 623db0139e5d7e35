// norva-probe bank check: a bank folder through the plug-in's own loader.
#pragma once

#include <ostream>
#include <string>

namespace norva::probe {

// Loads folder with no arena capacity limit and prints the report on out, one
// "name: value" line each: outcome, error (on failure), bank, sha256,
// instrument, one positioning and one preset line each, zones, arena frames
// and sample rate. True when the bank loaded; on failure err also gets one
// prefixed line.
bool runBankCheck(const std::string &folder, const std::string &instrumentId, std::ostream &out,
                  std::ostream &err);

} // namespace norva::probe
