// UString: a view on a caller-owned UTF-16 buffer of fixed capacity, with
// ASCII conversion and number printing/scanning. Every writing operation
// keeps the buffer NUL-terminated within its capacity.
#pragma once

#include "vst3/abi/ftypes.h"

namespace Steinberg {

class UString {
public:
  // size: capacity of buffer in code units, terminator included.
  UString(char16 *buffer, int32 size) : thisBuffer(buffer), thisSize(size) {}

  int32 getSize() const { return thisSize; }
  operator const char16 *() const { return thisBuffer; }

  // Length in code units up to the terminator (at most the capacity).
  int32 getLength() const;

  // Copy from UTF-16 text (srcSize < 0: up to its terminator).
  UString &assign(const char16 *src, int32 srcSize = -1);
  // Append UTF-16 text after the current contents.
  UString &append(const char16 *src, int32 srcSize = -1);
  // Copy the contents into another buffer of dstSize code units.
  const UString &copyTo(char16 *dst, int32 dstSize) const;

  // Copy from 8-bit text; each byte becomes one code unit (Latin-1).
  UString &fromAscii(const char *src, int32 srcSize = -1);
  // Copy to 8-bit text of dstSize bytes; each code unit keeps its low byte,
  // so non-ASCII characters are not preserved.
  const UString &toAscii(char *dst, int32 dstSize) const;

  // Leading decimal integer; false when the text does not start with one.
  bool scanInt(int64 &value) const;
  // Replaces the contents with the decimal form of value.
  bool printInt(int64 value);
  // Leading decimal floating-point number; false when there is none.
  bool scanFloat(double &value) const;
  // Replaces the contents with value printed with precision fraction digits.
  bool printFloat(double value, int32 precision = 4);

protected:
  char16 *thisBuffer;
  int32 thisSize;
};

// UString over its own buffer of maxSize code units.
template <int32 maxSize> class UStringBuffer : public UString {
public:
  UStringBuffer() : UString(data, maxSize) { data[0] = 0; }
  UStringBuffer(const char16 *src, int32 srcSize = -1) : UString(data, maxSize) {
    data[0] = 0;
    if (src)
      assign(src, srcSize);
  }
  UStringBuffer(const char *src, int32 srcSize = -1) : UString(data, maxSize) {
    data[0] = 0;
    if (src)
      fromAscii(src, srcSize);
  }
  UStringBuffer(const UStringBuffer &other) : UString(data, maxSize) { assign(other.data); }
  UStringBuffer &operator=(const UStringBuffer &other) {
    assign(other.data);
    return *this;
  }

protected:
  char16 data[maxSize];
};

typedef UStringBuffer<128> UString128;
typedef UStringBuffer<256> UString256;

} // namespace Steinberg

#define USTRING(asciiString) Steinberg::UString256(asciiString)
#define USTRINGSIZE(var) (sizeof(var) / sizeof(Steinberg::char16))
