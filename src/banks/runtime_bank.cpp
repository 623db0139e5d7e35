// Placeholder until the loader lands: every folder is missing.
#include "banks/runtime_bank.h"

namespace norva {

const char *runtimeBankOutcomeName(int outcome) {
  static const char *const kNames[] = {"ok", "bank-missing", "bank-hash-mismatch", "bank-malformed",
                                       "bank-unsupported-codec", "bank-too-large", "bank-instrument-unknown"};
  return outcome >= 0 && outcome <= 6 ? kNames[outcome] : "bank-missing";
}

RuntimeBankLoad loadRuntimeBank(const std::string &folder, size_t, const std::string &) {
  RuntimeBankLoad load;
  load.error = "cannot read " + folder + "/bank.json";
  return load;
}

} // namespace norva
