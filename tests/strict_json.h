// A strict JSON validity check (the RFC 8259 grammar that a browser's
// JSON.parse applies): no raw control characters in strings, only the
// standard escapes, JSON numbers only, nothing after the value. The tests and
// the fuzz targets run it on every text the plug-in writes.
#pragma once

#include <cstring>
#include <string_view>

namespace norva::strict {

struct Cursor {
  const char *p;
  const char *end;

  // One byte out of `set` (never the NUL that ends it).
  bool take(const char *set) {
    if (p == end || *p == '\0' || std::strchr(set, *p) == nullptr) return false;
    return ++p, true;
  }
  void space() { while (take(" \t\n\r")) {} }
  bool digits() {
    const char *start = p;
    while (take("0123456789")) {}
    return p != start;
  }
  bool word(std::string_view w) {
    if (std::string_view(p, size_t(end - p)).substr(0, w.size()) != w) return false;
    return p += w.size(), true;
  }
  bool string() {
    static constexpr const char *kHex = "0123456789abcdefABCDEF";
    if (!take("\"")) return false;
    while (p < end) {
      const auto c = static_cast<unsigned char>(*p++);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\' && !(take("u") ? take(kHex) && take(kHex) && take(kHex) && take(kHex) : take("\"\\/bfnrt")))
        return false;
    }
    return false;
  }
  bool number() {
    take("-");
    if (!take("0") && !digits()) return false;
    if (take(".") && !digits()) return false;
    return !take("eE") || (take("+-"), digits());
  }
  bool value(int depth) {
    space();
    if (p == end || depth > 64) return false;
    const char open = *p;
    if (open == '"') return string();
    if (open == 't' || open == 'f' || open == 'n') return word(open == 't' ? "true" : open == 'f' ? "false" : "null");
    if (open != '{' && open != '[') return number();
    const char *close = open == '{' ? "}" : "]";
    ++p;
    space();
    if (take(close)) return true;
    do {  // members of an object, elements of an array
      space();
      if (open == '{' && !(string() && (space(), take(":")))) return false;
      if (!value(depth + 1)) return false;
      space();
    } while (take(","));
    return take(close);
  }
};

inline bool valid(std::string_view text) {
  Cursor c{text.data(), text.data() + text.size()};
  const bool ok = c.value(0);
  c.space();
  return ok && c.p == c.end;
}

}  // namespace norva::strict
