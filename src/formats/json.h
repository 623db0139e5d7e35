// The JSON toolkit every format of the plug-in is built on: a streaming
// reader over a caller-owned byte range, a writer that appends to a string,
// and a Base64 codec. There is no document tree; each format parses its own
// members with the member loop and writes fixed fragments in a fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norva {

inline constexpr int kJsonMaxDepth = 32;

// A position inside [cur, end). Never reads at or past end. Routines advance
// cur past what they consumed, also when they fail.
struct Reader {
  const char *cur = nullptr;
  const char *end = nullptr;

  Reader() = default;
  Reader(const char *text, size_t length) : cur(text), end(text + length) {}
};

// Skips space, tab, line feed and carriage return.
void skipWhitespace(Reader &r);
// True when, after whitespace, the next byte is c (then consumed).
bool consumeByte(Reader &r, char c);
// True when, after whitespace, the input is exhausted.
bool atEnd(Reader &r);

// One string token; out (when given) receives the decoded bytes appended.
// "\uXXXX" with four hex digits gives the UTF-8 bytes of that code point (a
// surrogate pair gives one code point, a lone surrogate U+FFFD); a "\u" not
// followed by four hex digits takes up to four bytes, whatever they are, and
// gives "?". Raw control characters are taken as they are.
bool parseString(Reader &r, std::string *out);
// One number token with strtod's grammar (C locale), never looking past the
// range: the result is that of strtod on the range followed by a NUL.
bool parseNumber(Reader &r, double *out);
// "true"/"false" (out may be null). Like every literal, only the literal's
// own bytes are compared; the separator check after it rejects run-on text.
bool parseBool(Reader &r, bool *out);
// "null".
bool parseNull(Reader &r);
// One value of any kind, nested at most kJsonMaxDepth levels.
bool skipValue(Reader &r, int depth);

// Member loop: calls onMember(key, reader, depth) for each member; the
// callback reads (or skips) the value and returns false to fail the object.
// depth is the object's own depth; unknown members go to skipValue(r, depth + 1).
template <typename OnMember> bool readObject(Reader &r, int depth, OnMember &&onMember) {
  if (depth > kJsonMaxDepth || !consumeByte(r, '{')) return false;
  if (consumeByte(r, '}')) return true;
  std::string key;
  for (;;) {
    key.clear();
    if (!parseString(r, &key)) return false;
    if (!consumeByte(r, ':')) return false;
    skipWhitespace(r);
    if (!onMember(key, r, depth)) return false;
    if (consumeByte(r, ',')) continue;
    return consumeByte(r, '}');
  }
}

// Writing. The quote and the backslash get a backslash in front; control
// characters are escaped ("\b \f \n \r \t", the rest of 0x00-0x1F as
// "\u00XX"); bytes above 127 are written as they are. The text is every byte
// of the view, NUL included.
void jsonAppendQuoted(std::string &out, std::string_view text);
void jsonAppendQuoted(std::string &out, const char *text);
// Shortest text that reads back to the same double; the plain form unless the
// exponent form ("1e+05", "1e-04") is strictly shorter; null when not finite.
void jsonAppendNumber(std::string &out, double value);

// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
void base64Append(std::string &out, const uint8_t *bytes, size_t count);
// The 6-bit value of one alphabet character; 0xFFFFFFFF for anything else ("=" too).
uint32_t base64Digit(char c);
// Fails on a length that is not a multiple of 4, a result above maxBytes (out
// untouched), and any misplaced padding or character outside the alphabet.
bool base64Decode(const std::string &text, std::vector<uint8_t> &out, size_t maxBytes);

} // namespace norva
