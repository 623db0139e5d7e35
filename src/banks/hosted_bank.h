// Hosted banks: a bank folder published as a zip archive at an HTTPS address
// and pinned by the archive's SHA-256. One cache folder per pinned digest
// under the per-user data folder; a digest already cached is never fetched.
#pragma once

#include <string>

namespace norva {

// $XDG_DATA_HOME/Norva/banks (default ~/.local/share/Norva/banks), created
// when missing; empty when it cannot be created.
std::string hostedBankCacheRoot();

// True with folder set to the cached bank folder, or false with error set
// (folder empty). Blocks the calling thread while it downloads.
bool fetchHostedBank(const std::string &url, const std::string &sha256, std::string &folder, std::string &error);

// The folder chooser of this build: there is none. path is emptied, error is
// "this build has no folder picker", the result false.
bool pickBankFolder(std::string &path, std::string &error);

} // namespace norva
