// Small helpers shared by the fuzz targets: a front-to-back input reader that
// answers zeros once the input is used up, and a failure report that aborts so
// libFuzzer records the input.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace norva::fuzz {

class Reader {
public:
  Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return offset_ >= size_; }
  size_t remaining() const { return offset_ < size_ ? size_ - offset_ : 0; }

  uint8_t u8() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(u8()) << (8 * i);
    return v;
  }
  double f64() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= uint64_t(u8()) << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

private:
  const uint8_t *data_;
  size_t size_;
  size_t offset_ = 0;
};

[[noreturn]] inline void fail(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fprintf(stderr, "fuzz check failed: ");
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  std::abort();
}

} // namespace norva::fuzz
