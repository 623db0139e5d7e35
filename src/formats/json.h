// The JSON toolkit every format of the plug-in is built on: a streaming
// reader over a caller-owned byte range, a writer that appends to a string,
// and a Base64 codec. There is no document tree; each format parses its own
// members with the member loop and writes fixed fragments in a fixed order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
// True when, after whitespace, the next byte is c (consumed) .
bool consumeByte(Reader &r, char c);
// True when, after whitespace, the input is exhausted.
bool atEnd(Reader &r);

// One string token; out (when given) receives the decoded bytes appended.
bool parseString(Reader &r, std::string *out);
// One number token with strtod's grammar, never looking past the range.
bool parseNumber(Reader &r, double *out);
// "true"/"false" (out may be null).
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

// Writing.
void jsonAppendQuoted(std::string &out, const char *text);
void jsonAppendNumber(std::string &out, double value);

// Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
void base64Append(std::string &out, const uint8_t *bytes, size_t count);
uint32_t base64Digit(char c);
bool base64Decode(const std::string &text, std::vector<uint8_t> &out, size_t maxBytes);

} // namespace norva
