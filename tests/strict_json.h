// A strict JSON validity check (RFC 8259 grammar, as a browser's JSON.parse
// applies it): no raw control characters in strings, only the standard
// escapes, JSON numbers only, nothing after the value. Used by the tests and
// the fuzz targets on every text the plug-in writes.
#pragma once

#include <cstring>
#include <string_view>

namespace norva::strict {

class Validator {
public:
  explicit Validator(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool document() {
    const bool ok = value(0);
    space();
    return ok && p_ == end_;
  }

private:
  const char *p_;
  const char *end_;

  bool more() const { return p_ < end_; }
  bool take(char c) {
    if (!more() || *p_ != c) return false;
    ++p_;
    return true;
  }
  void space() {
    while (more() && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }
  bool digits() {
    const char *start = p_;
    while (more() && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ != start;
  }
  bool literal(const char *word) {
    const size_t n = std::strlen(word);
    if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
  }

  bool string() {
    if (!take('"')) return false;
    while (more()) {
      const auto c = static_cast<unsigned char>(*p_++);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') continue;
      if (!more()) return false;
      const char e = *p_++;
      if (e == 'u') {
        for (int i = 0; i < 4; ++i) {
          if (!more() || std::strchr("0123456789abcdefABCDEF", *p_) == nullptr || *p_ == '\0') return false;
          ++p_;
        }
      } else if (std::strchr("\"\\/bfnrt", e) == nullptr || e == '\0') {
        return false;
      }
    }
    return false;
  }

  bool number() {
    take('-');
    if (!take('0') && !digits()) return false;
    if (take('.') && !digits()) return false;
    if (more() && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    return true;
  }

  bool value(int depth) {
    space();
    if (!more() || depth > 64) return false;
    switch (*p_) {
      case '"': return string();
      case '{': {
        ++p_;
        space();
        if (take('}')) return true;
        do {
          space();
          if (!string()) return false;
          space();
          if (!take(':') || !value(depth + 1)) return false;
          space();
        } while (take(','));
        return take('}');
      }
      case '[': {
        ++p_;
        space();
        if (take(']')) return true;
        do {
          if (!value(depth + 1)) return false;
          space();
        } while (take(','));
        return take(']');
      }
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return number();
    }
  }
};

inline bool valid(std::string_view text) { return Validator(text).document(); }

}  // namespace norva::strict
