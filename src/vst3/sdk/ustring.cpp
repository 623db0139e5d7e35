#include "vst3/sdk/ustring.h"

#include <cstdio>
#include <cstdlib>

namespace Steinberg {
namespace {

// Copies up to srcSize units of src (srcSize < 0: up to its terminator) into
// dst of dstSize units, stopping at a terminator and always terminating.
template <class Dst, class Src, class Convert>
void copyText(Dst *dst, int32 dstSize, const Src *src, int32 srcSize, Convert convert) {
  if (!dst || dstSize <= 0)
    return;
  int32 i = 0;
  if (src) {
    for (; i < dstSize - 1 && (srcSize < 0 || i < srcSize) && src[i]; ++i)
      dst[i] = convert(src[i]);
  }
  dst[i] = 0;
}

char16 same16(char16 c) { return c; }
char16 widen(char c) { return char16(static_cast<unsigned char>(c)); }
char narrow(char16 c) { return static_cast<char>(c & 0xFF); }

// The leading ASCII part of the text, narrowed for the C number parsers.
void leadingAscii(const char16 *text, int32 size, char (&out)[128]) {
  int32 i = 0;
  for (; i < 127 && i < size && text[i] && text[i] < 0x80; ++i)
    out[i] = static_cast<char>(text[i]);
  out[i] = 0;
}

bool storeAscii(char16 *buffer, int32 size, const char *text, int length) {
  if (!buffer || size <= 0 || length < 0)
    return false;
  copyText(buffer, size, text, length, widen);
  return length < size;
}

} // namespace

int32 UString::getLength() const {
  int32 length = 0;
  while (length < thisSize && thisBuffer[length])
    ++length;
  return length;
}

UString &UString::assign(const char16 *src, int32 srcSize) {
  copyText(thisBuffer, thisSize, src, srcSize, same16);
  return *this;
}

UString &UString::append(const char16 *src, int32 srcSize) {
  const int32 length = getLength();
  if (length < thisSize)
    copyText(thisBuffer + length, thisSize - length, src, srcSize, same16);
  return *this;
}

const UString &UString::copyTo(char16 *dst, int32 dstSize) const {
  copyText(dst, dstSize, thisBuffer, thisSize, same16);
  return *this;
}

UString &UString::fromAscii(const char *src, int32 srcSize) {
  copyText(thisBuffer, thisSize, src, srcSize, widen);
  return *this;
}

const UString &UString::toAscii(char *dst, int32 dstSize) const {
  copyText(dst, dstSize, thisBuffer, thisSize, narrow);
  return *this;
}

bool UString::scanInt(int64 &value) const {
  char text[128];
  leadingAscii(thisBuffer, thisSize, text);
  char *end = nullptr;
  const long long parsed = std::strtoll(text, &end, 10);
  if (end == text)
    return false;
  value = parsed;
  return true;
}

bool UString::printInt(int64 value) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%lld", value);
  return storeAscii(thisBuffer, thisSize, text, length);
}

bool UString::scanFloat(double &value) const {
  char text[128];
  leadingAscii(thisBuffer, thisSize, text);
  char *end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text)
    return false;
  value = parsed;
  return true;
}

bool UString::printFloat(double value, int32 precision) {
  char text[400]; // "%.*f" of the largest double needs 309 integer digits
  if (precision < 0)
    precision = 0;
  if (precision > 64)
    precision = 64;
  const int length = std::snprintf(text, sizeof text, "%.*f", int(precision), value);
  if (length < 0 || length >= int(sizeof text))
    return false;
  return storeAscii(thisBuffer, thisSize, text, length);
}

} // namespace Steinberg
