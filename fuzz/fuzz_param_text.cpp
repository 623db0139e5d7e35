// Parameter text in both directions, on every catalogue row, from arbitrary
// input: parsing never fails by crashing, a failed parse leaves the value
// alone, a successful one gives a normalised value in 0..1; every value (also
// NaN, infinities and values outside 0..1) gives a terminated text that fits
// its buffer and reads back to a value with the same text.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "params/params.h"

namespace {

using norva::fuzz::fail;

void checkText(const norva::norva_param_desc &row, double normalized) {
  char text[128];
  std::memset(text, 'x', sizeof text);
  const size_t length = norva::paramToText(row, normalized, text, sizeof text);
  if (length >= sizeof text || text[length] != '\0' || std::strlen(text) != length)
    fail("%s: text of %g is not terminated at %zu", row.key, normalized, length);

  // Smaller buffers cut the same text.
  for (size_t capacity : {size_t(1), size_t(2), size_t(4)}) {
    char small[8];
    std::memset(small, 'x', sizeof small);
    const size_t cut = norva::paramToText(row, normalized, small, capacity);
    if (cut >= capacity || small[cut] != '\0' || std::strncmp(small, text, cut) != 0 || small[capacity] != 'x')
      fail("%s: text of %g cut to %zu bytes", row.key, normalized, capacity);
  }
  if (norva::paramToText(row, normalized, nullptr, 0) != 0) fail("%s: text into no buffer", row.key);

  // The text reads back to a value that shows the same text.
  double back = -7;
  if (!norva::paramFromText(row, text, &back)) fail("%s: its own text '%s' does not parse", row.key, text);
  char again[128];
  norva::paramToText(row, back, again, sizeof again);
  if (std::strcmp(text, again) != 0) fail("%s: '%s' reads back as a value shown as '%s'", row.key, text, again);
  const double plain = norva::paramToPlain(row, normalized);
  if (!(plain >= row.min && plain <= row.max)) fail("%s: plain value %g outside its range", row.key, plain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  char text[300];
  const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
  std::memcpy(text, data, n);
  text[n] = '\0';

  double raw = 0;
  if (size >= sizeof raw) std::memcpy(&raw, data, sizeof raw);

  for (const norva::norva_param_desc &row : norva::NORVA_PARAMS) {
    double normalized = -7;
    if (norva::paramFromText(row, text, &normalized)) {
      if (!(normalized >= 0 && normalized <= 1)) fail("%s: '%s' parsed to %g", row.key, text, normalized);
      checkText(row, normalized);
    } else if (normalized != -7) {
      fail("%s: a failed parse of '%s' changed the value", row.key, text);
    }
    checkText(row, raw);
  }
  return 0;
}
