// Small helpers for the interfaces' NUL-terminated 8-bit and 16-bit texts.
#pragma once

#include "vst3/abi/ftypes.h"

#define SMTG_STR16_CAT_(a, b) a##b
#define STR16(x) SMTG_STR16_CAT_(u, x)
#define STR(x) STR16(x)
#define str8BufferSize(buffer) (sizeof(buffer) / sizeof(::Steinberg::char8))
#define str16BufferSize(buffer) (sizeof(buffer) / sizeof(::Steinberg::char16))
#define tStrBufferSize(buffer) (sizeof(buffer) / sizeof(::Steinberg::tchar))

namespace Steinberg {

static const char8 kEmptyString8[] = {0};
static const char16 kEmptyString16[] = {0};

inline bool strEmpty(const tchar *str) { return !str || *str == 0; }
inline bool str8Empty(const char8 *str) { return !str || *str == 0; }
inline bool str16Empty(const char16 *str) { return !str || *str == 0; }

template <class T> inline int32 _tstrlen(const T *text) {
  int32 length = 0;
  while (text[length])
    ++length;
  return length;
}
inline int32 tstrlen(const tchar *str) { return _tstrlen(str); }
inline int32 strlen8(const char8 *str) { return _tstrlen(str); }
inline int32 strlen16(const char16 *str) { return _tstrlen(str); }

// <0, 0 or >0 as a sorts before, equal to or after b (code unit order).
template <class T> inline int32 _tstrcmp(const T *a, const T *b) {
  for (;; ++a, ++b) {
    if (*a != *b || *a == 0)
      return int32(*a) - int32(*b);
  }
}
inline int32 strcmp8(const char8 *a, const char8 *b) {
  return _tstrcmp(reinterpret_cast<const uint8 *>(a), reinterpret_cast<const uint8 *>(b));
}
inline int32 strcmp16(const char16 *a, const char16 *b) { return _tstrcmp(a, b); }
inline int32 tstrcmp(const tchar *a, const tchar *b) { return _tstrcmp(a, b); }

// Copies at most count units of source into dest and pads the rest of the
// count with zeros. Like strncpy, dest is not terminated when source has
// count or more units.
template <class T> inline T *_tstrncpy(T *dest, const T *source, uint32 count) {
  uint32 i = 0;
  for (; i < count && source[i]; ++i)
    dest[i] = source[i];
  for (; i < count; ++i)
    dest[i] = 0;
  return dest;
}
inline char8 *strncpy8(char8 *dest, const char8 *source, uint32 count) {
  return _tstrncpy(dest, source, count);
}
inline char16 *strncpy16(char16 *dest, const char16 *source, uint32 count) {
  return _tstrncpy(dest, source, count);
}
inline tchar *tstrncpy(tchar *dest, const tchar *source, uint32 count) {
  return _tstrncpy(dest, source, count);
}

// Widens 8-bit text (each byte taken as a Latin-1 code unit) into a buffer of
// n code units, always terminated and zero-padded; n < 0 means unbounded.
inline void str8ToStr16(char16 *dst, const char8 *src, int32 n = -1) {
  if (n == 0)
    return;
  int32 i = 0;
  for (; (n < 0 || i < n - 1) && src[i]; ++i)
    dst[i] = char16(uint8(src[i]));
  dst[i++] = 0;
  for (; n > 0 && i < n; ++i)
    dst[i] = 0;
}

// True when both identifiers are present and equal.
inline bool FIDStringsEqual(FIDString id1, FIDString id2) {
  return id1 && id2 && strcmp8(id1, id2) == 0;
}

} // namespace Steinberg
