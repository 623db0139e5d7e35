// Unpacking an untrusted zip archive held in memory (libarchive reads it;
// the files are written here, relative to the destination folder).
//
// Nothing is ever written outside the destination: an entry with an absolute
// name, a ".." segment or an over-long name, a symbolic or hard link, a
// device, fifo or socket, a file that clashes with an earlier entry, and an
// archive that would unpack to more than the limits allow all fail the whole
// extraction. Every folder on the way is opened without following links,
// and files are created new, never opened through something already there.
// Files are written 0644 and folders 0755 (less the umask), whatever the
// archive says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norva {

inline constexpr uint64_t kZipMaxUnpackedBytes = uint64_t(1) << 30; // 1 GiB
inline constexpr uint64_t kZipMaxEntries = 100000;
inline constexpr size_t kZipMaxNameBytes = 1024;

struct ZipLimits {
  uint64_t maxUnpackedBytes = kZipMaxUnpackedBytes; // all files' bytes together
  uint64_t maxEntries = kZipMaxEntries;             // files and folders
};

enum class ZipOutcome {
  ok,
  unreadable,  // not a zip archive, or a damaged or encrypted one
  unsafeEntry, // an entry that may not be written (see above)
  overLimit,   // more entries or bytes than the limits allow
  writeFailed, // the file system refused
};

// "ok", "unreadable", "unsafe-entry", "over-limit", "write-failed".
const char *zipOutcomeName(ZipOutcome outcome);

// Unpacks the zip archive bytes[0, length) into folder, which exists. On any
// outcome but ok, detail says what failed and folder may hold part of the
// archive: the caller removes it.
ZipOutcome extractZip(const void *bytes, size_t length, const std::string &folder, std::string &detail,
                      const ZipLimits &limits = {});

} // namespace norva
