// Arbitrary bytes unpacked as a zip archive into a fresh folder with small
// limits: whatever the outcome, nothing appears beside that folder, what is
// inside is only plain files and folders within the limits, and the folder
// can be removed again.
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "platform/user_folders.h"
#include "platform/zip_extract.h"

namespace {

namespace fs = std::filesystem;
using norva::fuzz::fail;

constexpr norva::ZipLimits kLimits{1 << 20, 64};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  char name[] = "/tmp/norva-fuzz-zip-XXXXXX";
  if (::mkdtemp(name) == nullptr) fail("no scratch folder");
  const std::string scratch = name, into = scratch + "/into";
  if (!norva::createFolderExclusive(into)) fail("cannot create %s", into.c_str());
  std::string detail;
  const norva::ZipOutcome outcome = norva::extractZip(data, size, into, detail, kLimits);
  if (std::distance(fs::directory_iterator(scratch), {}) != 1) fail("an entry was written beside the folder");
  uint64_t bytes = 0;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(into)) {
    if (entry.is_symlink() || !(entry.is_regular_file() || entry.is_directory())) fail("a link or a special file");
    if (entry.is_regular_file()) bytes += entry.file_size();
  }
  if (bytes > kLimits.maxUnpackedBytes) {
    fail("%llu bytes unpacked (%s)", (unsigned long long)bytes, norva::zipOutcomeName(outcome));
  }
  if (!norva::removeTree(scratch)) fail("cannot remove what was unpacked (%s)", detail.c_str());
  return 0;
}
