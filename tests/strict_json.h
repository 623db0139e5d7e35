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

  bool at(const char *set) const { return p < end && *p != '\0' && std::strchr(set, *p) != nullptr; }
  bool take(const char *set) {
    if (!at(set)) return false;
    ++p;
    return true;
  }
  void space() { while (take(" \t\n\r")) {} }
  bool digits() {
    const char *start = p;
    while (take("0123456789")) {}
    return p != start;
  }
  bool word(const char *w) {
    const size_t n = std::strlen(w);
    if (static_cast<size_t>(end - p) < n || std::memcmp(p, w, n) != 0) return false;
    p += n;
    return true;
  }

  bool string() {
    if (!take("\"")) return false;
    while (p < end) {
      const auto c = static_cast<unsigned char>(*p++);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (take("u")) {
        for (int i = 0; i < 4; ++i)
          if (!take("0123456789abcdefABCDEF")) return false;
      } else if (!take("\"\\/bfnrt")) {
        return false;
      }
    }
    return false;
  }

  bool number() {
    take("-");
    if (!take("0") && !digits()) return false;
    if (take(".") && !digits()) return false;
    if (take("eE")) {
      take("+-");
      if (!digits()) return false;
    }
    return true;
  }

  // Members (object) or elements (array) up to the closing byte.
  bool list(char close, bool members, int depth) {
    ++p;
    space();
    const char closing[2] = {close, '\0'};
    if (take(closing)) return true;
    do {
      space();
      if (members && !(string() && (space(), take(":")))) return false;
      if (!value(depth + 1)) return false;
      space();
    } while (take(","));
    return take(closing);
  }

  bool value(int depth) {
    space();
    if (p >= end || depth > 64) return false;
    switch (*p) {
      case '"': return string();
      case '{': return list('}', true, depth);
      case '[': return list(']', false, depth);
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }
};

inline bool valid(std::string_view text) {
  Cursor c{text.data(), text.data() + text.size()};
  const bool ok = c.value(0);
  c.space();
  return ok && c.p == c.end;
}

}  // namespace norva::strict
