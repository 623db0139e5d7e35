// File-system questions the banks ask of the platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norva {

enum class FileReadStatus {
  ok,
  unreadable, // missing, not a regular file, or a read failed or fell short
  tooLarge,   // larger than the caller's limit; nothing was read
};

// Reads a whole regular file of at most maxBytes bytes into out (replaced).
FileReadStatus readFileLimited(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out);

// True when path exists and its real location, every symbolic link resolved,
// is folder's real location or lies inside it.
bool realPathInside(const std::string &folder, const std::string &path);
// The same, with that real location in real (untouched on false).
bool realPathInside(const std::string &folder, const std::string &path, std::string &real);

} // namespace norva
