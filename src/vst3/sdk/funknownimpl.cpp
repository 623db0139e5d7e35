#include "vst3/sdk/funknownimpl.h"

#include <cstring>

namespace Steinberg {

bool FUnknownPrivate::iidEqual(const void *iid1, const void *iid2) {
  return std::memcmp(iid1, iid2, sizeof(TUID)) == 0;
}

// The compiler builtin rather than std::atomic_ref, which the macOS standard
// library does not offer on every supported toolchain.
int32 PLUGIN_API FUnknownPrivate::atomicAdd(int32 &value, int32 amount) {
  return __atomic_add_fetch(&value, amount, __ATOMIC_ACQ_REL);
}

namespace {

uint32 wordAt(const TUID bytes, int offset) {
  return (uint32(uint8(bytes[offset])) << 24) | (uint32(uint8(bytes[offset + 1])) << 16) |
         (uint32(uint8(bytes[offset + 2])) << 8) | uint32(uint8(bytes[offset + 3]));
}

FUID fromBytes(const TUID bytes) {
  return FUID(wordAt(bytes, 0), wordAt(bytes, 4), wordAt(bytes, 8), wordAt(bytes, 12));
}

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

FUID uidFromTUID(const TUID uid) { return uid ? fromBytes(uid) : FUID(); }

bool uidIsValid(const FUID &uid) {
  for (char byte : uid.toTUID())
    if (byte != 0)
      return true;
  return false;
}

void uidToString(const FUID &uid, FUID::String text) {
  if (!text)
    return;
  static const char digits[] = "0123456789ABCDEF";
  const TUID &data = uid.toTUID();
  for (int i = 0; i < 16; ++i) {
    const uint8 byte = uint8(data[i]);
    text[2 * i] = digits[byte >> 4];
    text[2 * i + 1] = digits[byte & 0x0F];
  }
  text[32] = 0;
}

bool uidFromString(FUID &uid, const char8 *text) {
  if (!text)
    return false;
  TUID parsed;
  for (int i = 0; i < 16; ++i) {
    const int high = hexValue(text[2 * i]);
    if (high < 0)
      return false;
    const int low = hexValue(text[2 * i + 1]);
    if (low < 0)
      return false;
    parsed[i] = static_cast<char>((high << 4) | low);
  }
  if (text[32] != 0)
    return false;
  uid = fromBytes(parsed);
  return true;
}

} // namespace Steinberg
