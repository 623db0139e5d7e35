#include "banks/hosted_bank.h"
#include "banks/runtime_bank.h"

#include <cstdint>
#include <vector>

#include "platform/user_folders.h"

namespace norva {
namespace {

constexpr size_t kPinLength = 64;
// Fresh random names until one is free; a clash is all but impossible.
constexpr int kStagingAttempts = 8;

// Only hex digits: the pin names a folder, so nothing in it may climb out of
// the cache ("/", ".."). Upper-case digits pass here and fail the comparison
// with the downloaded bytes' (lower-case) digest.
bool isHexPin(const std::string &pin) {
  if (pin.size() != kPinLength) return false;
  for (const char c : pin) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

bool failWith(std::string &error, std::string text) {
  error = std::move(text);
  return false;
}

// The folder of the unpacked archive that is the bank: staging itself when
// "bank.json" is at its top, else its one visible subfolder, else staging.
std::string bankFolderIn(const std::string &staging) {
  if (pathExists(staging + "/bank.json")) return staging;
  std::vector<FolderEntry> entries;
  if (!listFolder(staging, entries)) return staging;
  const FolderEntry *only = nullptr;
  for (const FolderEntry &entry : entries) {
    if (!entry.folder || entry.name[0] == '.') continue;
    if (only != nullptr) return staging;
    only = &entry;
  }
  return only != nullptr ? staging + "/" + only->name : staging;
}

// A new, empty staging folder beside target with a name from the kernel's
// random source; empty when none could be made.
std::string createStagingFolder(const std::string &target) {
  for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
    uint64_t number = 0;
    if (!secureRandom(number)) return {};
    const std::string staging = target + ".staging-" + std::to_string(number);
    if (createFolderExclusive(staging)) return staging;
    if (!pathExists(staging)) return {}; // not a clash: the cache folder refuses
  }
  return {};
}

} // namespace

std::string hostedBankCacheRoot() {
  const std::string data = userDataFolder();
  if (data.empty()) return {};
  const std::string root = data + "/Norva/banks";
  return createFolders(root) ? root : std::string();
}

bool fetchHostedBank(const std::string &url, const std::string &sha256, std::string &folder, std::string &error) {
  return fetchHostedBank(url, sha256, folder, error, HostedFetchOptions{});
}

bool fetchHostedBank(const std::string &url, const std::string &sha256, std::string &folder, std::string &error,
                     const HostedFetchOptions &options) {
  folder.clear();
  error.clear();
  if (!isHexPin(sha256)) return failWith(error, kHostedPinMalformed);
  const std::string root = hostedBankCacheRoot();
  if (root.empty()) return failWith(error, kHostedNoCacheFolder);
  const std::string target = root + "/" + sha256;
  if (isFolder(target)) {
    folder = target;
    return true;
  }

  std::string scheme;
  if (!parseUrlScheme(url, scheme)) return failWith(error, kHostedUrlInvalid);
  if (scheme != "https") return failWith(error, kHostedUrlNotHttps);
  std::vector<uint8_t> archive;
  std::string why;
  if (!httpsGet(url, archive, why, options.https)) return failWith(error, why.empty() ? kHostedDownloadFailed : why);

  // The pin is checked before anything is written.
  const std::string hex = sha256Hex(archive.data(), archive.size());
  if (hex.empty()) return failWith(error, kHostedDownloadFailed);
  if (hex != sha256) {
    return failWith(error, kHostedDigestMismatchLead + hex.substr(0, 16) + kHostedDigestMismatchTail);
  }

  const std::string staging = createStagingFolder(target);
  if (staging.empty()) return failWith(error, kHostedNoStagingFolder);
  std::string detail;
  const ZipOutcome unpacked = extractZip(archive.data(), archive.size(), staging, detail, options.zip);
  std::vector<uint8_t>().swap(archive);
  if (unpacked != ZipOutcome::ok) {
    removeTree(staging);
    return failWith(error, kHostedNotAZip);
  }

  // The bank appears in the cache whole, in one rename that never replaces
  // a folder: when a fetch of the same digest on another thread or in
  // another process got there first, its folder (the same archive's
  // contents) stays and this one's is dropped.
  const std::string bank = bankFolderIn(staging);
  MoveOutcome moved = moveWithoutReplacing(bank, target);
  if (moved == MoveOutcome::targetExists && !isFolder(target)) {
    // Something that is not a cache folder sits in the way: it goes.
    moved = removeTree(target) ? moveWithoutReplacing(bank, target) : MoveOutcome::failed;
  }
  if (moved == MoveOutcome::failed || (moved == MoveOutcome::targetExists && !isFolder(target))) {
    removeTree(staging);
    return failWith(error, kHostedMoveFailed);
  }
  if (moved != MoveOutcome::moved || bank != staging) removeTree(staging);
  folder = target;
  return true;
}

bool pickBankFolder(std::string &path, std::string &error) {
  path.clear();
  error = "this build has no folder picker";
  return false;
}

} // namespace norva
