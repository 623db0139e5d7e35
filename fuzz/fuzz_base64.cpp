// Base64 decoding of arbitrary text under a size limit taken from the first
// input byte: a decoded result never exceeds the limit, has exactly the size
// the text's length and padding announce, and survives encoding and decoding
// again unchanged. Encoding the raw input decodes back to it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/json.h"
#include "fuzz_support.h"

namespace {

using norva::fuzz::fail;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const size_t maxBytes = data[0] == 255 ? static_cast<size_t>(-1) : size_t{data[0]} * 3;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

  std::vector<uint8_t> decoded = {0xA5};
  if (norva::base64Decode(text, decoded, maxBytes)) {
    if (decoded.size() > maxBytes) fail("%zu bytes decoded under a limit of %zu", decoded.size(), maxBytes);
    if ((decoded.size() + 2) / 3 * 4 != text.size())
      fail("%zu bytes from a text of %zu characters", decoded.size(), text.size());
    std::string encoded;
    norva::base64Append(encoded, decoded.data(), decoded.size());
    std::vector<uint8_t> again;
    if (!norva::base64Decode(encoded, again, decoded.size()) || again != decoded)
      fail("re-encoded text '%s' does not decode to the same bytes", encoded.c_str());
  } else {
    // A length that is not a multiple of 4, or a result certainly above the
    // limit, is refused before the output is touched.
    const size_t least = text.size() / 4 * 3 >= 2 ? text.size() / 4 * 3 - 2 : 0;
    const bool refusedBySize = text.size() % 4 != 0 || least > maxBytes;
    if (refusedBySize && !(decoded.size() == 1 && decoded[0] == 0xA5)) fail("a refused text touched the output");
  }

  std::string encoded;
  norva::base64Append(encoded, data, size);
  std::vector<uint8_t> back;
  if (!norva::base64Decode(encoded, back, size) || back.size() != size ||
      !std::equal(back.begin(), back.end(), data))
    fail("%zu input bytes do not survive encoding", size);
  return 0;
}
