#include "formats/json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace norva {
namespace {

bool isJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// strtod skips the C locale's white space before the number, which adds
// vertical tab and form feed to the four JSON whitespace bytes.
bool isStrtodSpace(char c) { return isJsonSpace(c) || c == '\v' || c == '\f'; }

// Every byte strtod can consume after its leading white space: digits, signs,
// the point, exponent and hex letters, "inf"/"infinity"/"nan" and the
// character sequence of "nan(...)". strtod stops at the first byte outside
// this set, so a copy cut there and NUL-terminated converts exactly like the
// range followed by a NUL.
bool isNumberTokenByte(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '+' ||
         c == '-' || c == '_' || c == '(' || c == ')';
}

// Numbers in documents are short; the heap copy is only for runs longer than this.
constexpr size_t kNumberBufferSize = 64;

bool matchLiteral(Reader &r, const char *literal, size_t length) {
  if (static_cast<size_t>(r.end - r.cur) < length || std::memcmp(r.cur, literal, length) != 0) return false;
  r.cur += length;
  return true;
}

bool skipArray(Reader &r, int depth) {
  ++r.cur;  // '['
  if (consumeByte(r, ']')) return true;
  for (;;) {
    if (!skipValue(r, depth + 1)) return false;
    if (consumeByte(r, ',')) continue;
    return consumeByte(r, ']');
  }
}

// The member loop without keeping the keys.
bool skipObject(Reader &r, int depth) {
  ++r.cur;  // '{'
  if (consumeByte(r, '}')) return true;
  for (;;) {
    if (!parseString(r, nullptr) || !consumeByte(r, ':')) return false;
    if (!skipValue(r, depth + 1)) return false;
    if (consumeByte(r, ',')) continue;
    return consumeByte(r, '}');
  }
}

constexpr uint32_t kReplacementCharacter = 0xFFFD;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at the reader's position, consumed only when all four are there.
bool readHex4(Reader &r, uint32_t &code) {
  if (r.end - r.cur < 4) return false;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hexValue(r.cur[i]);
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  r.cur += 4;
  code = value;
  return true;
}

bool consumeEscapeU(Reader &r) {
  if (r.end - r.cur < 2 || r.cur[0] != '\\' || r.cur[1] != 'u') return false;
  r.cur += 2;
  return true;
}

bool isHighSurrogate(uint32_t code) { return code >= 0xD800 && code <= 0xDBFF; }
bool isLowSurrogate(uint32_t code) { return code >= 0xDC00 && code <= 0xDFFF; }

void appendUtf8(std::string &out, uint32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code >> 12));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code >> 18));
    out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The escape of one byte below 0x20: its short form where JSON has one.
char shortEscape(unsigned char c) {
  switch (c) {
    case '\b': return 'b';
    case '\f': return 'f';
    case '\n': return 'n';
    case '\r': return 'r';
    case '\t': return 't';
    default: return 0;
  }
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint32_t kNotBase64 = 0xFFFFFFFFu;

}  // namespace

void skipWhitespace(Reader &r) {
  while (r.cur < r.end && isJsonSpace(*r.cur)) ++r.cur;
}

bool consumeByte(Reader &r, char c) {
  skipWhitespace(r);
  if (r.cur >= r.end || *r.cur != c) return false;
  ++r.cur;
  return true;
}

bool atEnd(Reader &r) {
  skipWhitespace(r);
  return r.cur >= r.end;
}

bool parseString(Reader &r, std::string *out) {
  if (!consumeByte(r, '"')) return false;
  while (r.cur < r.end) {
    const char *run = r.cur;
    while (r.cur < r.end && *r.cur != '"' && *r.cur != '\\') ++r.cur;
    if (out != nullptr) out->append(run, static_cast<size_t>(r.cur - run));
    if (r.cur >= r.end) return false;
    if (*r.cur++ == '"') return true;

    if (r.cur >= r.end) return false;  // a backslash as the last byte
    char decoded = *r.cur++;
    switch (decoded) {
      case 'b': decoded = '\b'; break;
      case 'f': decoded = '\f'; break;
      case 'n': decoded = '\n'; break;
      case 'r': decoded = '\r'; break;
      case 't': decoded = '\t'; break;
      case 'u': {
        decoded = '?';
        uint32_t code = 0;
        if (!readHex4(r, code)) {
          // Not four hex digits: up to four bytes, whatever they are, become
          // one "?", the way such an escape has always been read.
          r.cur += std::min<ptrdiff_t>(4, r.end - r.cur);
          break;
        }
        if (isHighSurrogate(code)) {
          Reader low = r;
          uint32_t next = 0;
          if (consumeEscapeU(low) && readHex4(low, next) && isLowSurrogate(next)) {
            code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
            r = low;
          } else {
            code = kReplacementCharacter;
          }
        } else if (isLowSurrogate(code)) {
          code = kReplacementCharacter;
        }
        if (out != nullptr) appendUtf8(*out, code);
        continue;
      }
      default: break;  // the quote, backslash, slash and anything else stand for themselves
    }
    if (out != nullptr) out->push_back(decoded);
  }
  return false;
}

bool parseNumber(Reader &r, double *out) {
  skipWhitespace(r);
  const char *start = r.cur;
  while (start < r.end && isStrtodSpace(*start)) ++start;
  const char *stop = start;
  while (stop < r.end && isNumberTokenByte(*stop)) ++stop;
  const size_t length = static_cast<size_t>(stop - start);
  if (length == 0) return false;

  char small[kNumberBufferSize];
  std::string large;
  const char *text = small;
  if (length < sizeof small) {
    std::memcpy(small, start, length);
    small[length] = '\0';
  } else {
    // A long digit run still has to round exactly as strtod rounds it.
    large.assign(start, length);
    text = large.c_str();
  }
  char *parsedEnd = nullptr;
  const double value = std::strtod(text, &parsedEnd);
  if (parsedEnd == text) return false;
  r.cur = start + (parsedEnd - text);
  if (out != nullptr) *out = value;
  return true;
}

bool parseBool(Reader &r, bool *out) {
  skipWhitespace(r);
  bool value = true;
  if (!matchLiteral(r, "true", 4)) {
    if (!matchLiteral(r, "false", 5)) return false;
    value = false;
  }
  if (out != nullptr) *out = value;
  return true;
}

bool parseNull(Reader &r) {
  skipWhitespace(r);
  return matchLiteral(r, "null", 4);
}

bool skipValue(Reader &r, int depth) {
  skipWhitespace(r);
  if (depth > kJsonMaxDepth || r.cur >= r.end) return false;
  switch (*r.cur) {
    case '"': return parseString(r, nullptr);
    case '[': return skipArray(r, depth);
    case '{': return skipObject(r, depth);
    default: break;
  }
  if (matchLiteral(r, "true", 4) || matchLiteral(r, "false", 5) || matchLiteral(r, "null", 4)) return true;
  return parseNumber(r, nullptr);
}

void jsonAppendQuoted(std::string &out, std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  out.push_back('"');
  size_t run = 0;  // start of the bytes not yet appended
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    out.push_back('\\');
    if (c >= 0x20) {
      out.push_back(static_cast<char>(c));
    } else if (const char letter = shortEscape(c)) {
      out.push_back(letter);
    } else {
      out += "u00";
      out.push_back(kHexDigits[c >> 4]);
      out.push_back(kHexDigits[c & 15]);
    }
  }
  out.append(text.data() + run, text.size() - run);
  out.push_back('"');
}

void jsonAppendQuoted(std::string &out, const char *text) { jsonAppendQuoted(out, std::string_view(text)); }

void jsonAppendNumber(std::string &out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  // The standard library's shortest round-trip text: fixed notation unless
  // the exponent form (e, sign, at least two digits) is strictly shorter.
  // Neither form exceeds 24 bytes when it is the one chosen.
  char text[64];
  std::to_chars_result done = std::to_chars(text, text + sizeof text, value);
  if (done.ec != std::errc()) done = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  out.append(text, static_cast<size_t>(done.ptr - text));
}

void base64Append(std::string &out, const uint8_t *bytes, size_t count) {
  out.reserve(out.size() + (count + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const uint32_t group = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    out.push_back(kBase64Alphabet[group >> 18]);
    out.push_back(kBase64Alphabet[(group >> 12) & 63]);
    out.push_back(kBase64Alphabet[(group >> 6) & 63]);
    out.push_back(kBase64Alphabet[group & 63]);
  }
  const size_t left = count - i;
  if (left == 0) return;
  const uint32_t group = uint32_t{bytes[i]} << 16 | (left == 2 ? uint32_t{bytes[i + 1]} << 8 : 0u);
  out.push_back(kBase64Alphabet[group >> 18]);
  out.push_back(kBase64Alphabet[(group >> 12) & 63]);
  out.push_back(left == 2 ? kBase64Alphabet[(group >> 6) & 63] : '=');
  out.push_back('=');
}

uint32_t base64Digit(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint32_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<uint32_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return kNotBase64;
}

bool base64Decode(const std::string &text, std::vector<uint8_t> &out, size_t maxBytes) {
  const size_t length = text.size();
  if (length % 4 != 0) return false;
  if (length == 0) {
    out.clear();
    return true;
  }
  size_t padding = 0;
  if (text[length - 1] == '=') padding = 1;
  if (length >= 2 && text[length - 2] == '=') padding = text[length - 1] == '=' ? 2 : 1;
  const size_t expected = length / 4 * 3 - padding;
  if (expected > maxBytes) return false;

  out.clear();
  out.reserve(expected);
  for (size_t i = 0; i < length; i += 4) {
    const bool last = i + 4 == length;
    const uint32_t a = base64Digit(text[i]);
    const uint32_t b = base64Digit(text[i + 1]);
    uint32_t c = base64Digit(text[i + 2]);
    uint32_t d = base64Digit(text[i + 3]);
    if (a == kNotBase64 || b == kNotBase64) return false;
    if (c == kNotBase64) {
      if (!last || text[i + 2] != '=') return false;
      c = 0;
    }
    if (d == kNotBase64) {
      if (!last || text[i + 3] != '=') return false;
      d = 0;
    }
    const uint32_t group = a << 18 | b << 12 | c << 6 | d;
    const uint8_t bytes[3] = {static_cast<uint8_t>(group >> 16), static_cast<uint8_t>(group >> 8),
                              static_cast<uint8_t>(group)};
    for (uint8_t byte : bytes) {
      if (out.size() == expected) break;
      out.push_back(byte);
    }
  }
  return out.size() == expected;
}

}  // namespace norva
