// Placeholder until the hosted download lands: every fetch fails.
#include "banks/hosted_bank.h"

namespace norva {

std::string hostedBankCacheRoot() { return {}; }

bool fetchHostedBank(const std::string &, const std::string &, std::string &folder, std::string &error) {
  folder.clear();
  error = "download failed";
  return false;
}

bool pickBankFolder(std::string &path, std::string &error) {
  path.clear();
  error = "this build has no folder picker";
  return false;
}

} // namespace norva
