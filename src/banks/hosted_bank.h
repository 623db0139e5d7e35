// Hosted banks: a bank folder published as a zip archive at an HTTPS address
// and pinned by the archive's SHA-256. One cache folder per pinned digest
// under the per-user data folder; a digest already cached is never fetched.
#pragma once

#include <string>

#include "platform/https.h"
#include "platform/zip_extract.h"

namespace norva {

// The texts a failed fetch reports. A mismatching digest reads
// kHostedDigestMismatchLead + the first 16 hex digits of the downloaded
// bytes' digest + kHostedDigestMismatchTail.
inline constexpr const char *kHostedPinMalformed = "a hosted bank must pin a 64-hex sha256";
inline constexpr const char *kHostedNoCacheFolder = "cannot create the bank cache directory";
inline constexpr const char *kHostedUrlInvalid = "hosted bank url is not a valid URL";
inline constexpr const char *kHostedUrlNotHttps = "hosted banks must be served over https";
inline constexpr const char *kHostedDownloadFailed = "download failed";
inline constexpr const char *kHostedDigestMismatchLead = "downloaded bytes hash to ";
inline constexpr const char *kHostedDigestMismatchTail = "\u2026 which does not match the pinned sha256";
inline constexpr const char *kHostedNoStagingFolder = "cannot create the staging directory";
inline constexpr const char *kHostedNotAZip = "the downloaded archive is not a readable zip";
inline constexpr const char *kHostedMoveFailed = "cannot move the unpacked bank into the cache";

// $XDG_DATA_HOME/Norva/banks (default ~/.local/share/Norva/banks), created
// when missing; empty when it cannot be created.
std::string hostedBankCacheRoot();

// What a fetch may be told beyond the address and the pin: the product uses
// the defaults (the system's certificates, the full limits); tests trust
// their own certificate authority and shrink the limits.
struct HostedFetchOptions {
  HttpsOptions https;
  ZipLimits zip;
};

// True with folder set to the cached bank folder, or false with error set
// (folder empty). Blocks the calling thread while it downloads. Safe to call
// from several threads at once, for the same digest too: the cache folder
// appears whole in one rename, and a fetch that finds it already there keeps
// it and succeeds.
bool fetchHostedBank(const std::string &url, const std::string &sha256, std::string &folder, std::string &error);
bool fetchHostedBank(const std::string &url, const std::string &sha256, std::string &folder, std::string &error,
                     const HostedFetchOptions &options);

// The folder chooser of this build: there is none. path is emptied, error is
// "this build has no folder picker", the result false.
bool pickBankFolder(std::string &path, std::string &error);

} // namespace norva
