#include "vst3/funknown.h"

namespace Steinberg {

// The compiler builtin rather than std::atomic_ref, which the macOS standard
// library does not offer on every supported toolchain.
int32 PLUGIN_API FUnknownPrivate::atomicAdd(int32 &value, int32 amount) {
  return __atomic_add_fetch(&value, amount, __ATOMIC_ACQ_REL);
}

bool FUID::isValid() const {
  for (char byte : data)
    if (byte != 0)
      return true;
  return false;
}

void FUID::toString(char8 *string) const {
  if (!string)
    return;
  static const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 16; ++i) {
    const uint8 byte = uint8(data[i]);
    string[2 * i] = digits[byte >> 4];
    string[2 * i + 1] = digits[byte & 0x0F];
  }
  string[32] = 0;
}

namespace {
int hexValue(char8 c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}
} // namespace

bool FUID::fromString(const char8 *string) {
  if (!string)
    return false;
  TUID parsed;
  for (int i = 0; i < 16; ++i) {
    const int high = hexValue(string[2 * i]);
    if (high < 0)
      return false;
    const int low = hexValue(string[2 * i + 1]);
    if (low < 0)
      return false;
    parsed[i] = static_cast<char>((high << 4) | low);
  }
  if (string[32] != 0)
    return false;
  std::memcpy(data, parsed, sizeof(TUID));
  return true;
}

} // namespace Steinberg
