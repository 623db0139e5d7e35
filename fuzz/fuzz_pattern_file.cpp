// Pattern files (`norva-probe render --pattern`) from arbitrary text held in
// a heap block of exactly the input's size. A refused file leaves the plane
// as it was and says why; an accepted one is a plane a kernel takes, and its
// 32 patterns written out are strict JSON that reads back to the same bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "state/pattern_json.h"
#include "../tests/strict_json.h"

namespace {

using namespace norva;
using norva::fuzz::fail;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  uint8_t plane[kPlaneBytes];
  std::memset(plane, 0xA5, sizeof plane);
  std::string error;
  if (!parsePatternFile(std::string_view(block.get(), size), plane, error)) {
    if (error.empty()) fail("refused without a reason");
    for (uint8_t byte : plane)
      if (byte != 0xA5) fail("a refused file changed the plane (%s)", error.c_str());
    return 0;
  }
  if (const char *fault = authoredPlaneFault(plane, sizeof plane)) fail("accepted a plane a kernel refuses: %s", fault);

  std::string text = "{\"patterns\":[";
  for (int p = 0; p < kPlanePatterns; ++p) {
    if (p != 0) text += ',';
    writePatternJson(text, p, patternOfPlane(plane, p));
  }
  text += "]}";
  if (!strict::valid(text)) fail("written patterns are not strict JSON");
  uint8_t back[kPlaneBytes];
  if (!parsePatternFile(text, back, error)) fail("written patterns refused: %s", error.c_str());
  if (std::memcmp(back, plane, kPlaneBytes) != 0) fail("written patterns read back to another plane");
  return 0;
}
