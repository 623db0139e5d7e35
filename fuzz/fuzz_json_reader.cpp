// The JSON reader on arbitrary bytes held in a heap block of exactly the
// input's size, so that any read at or past the end of the range is an
// AddressSanitizer report. Every routine stays inside the range; numbers
// convert exactly as strtod converts the range followed by a NUL; a string
// token never decodes to more bytes than it consumed. The input written as a
// quoted string is strict JSON and reads back to the same bytes.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "formats/json.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"

namespace {

using norva::Reader;
using norva::fuzz::fail;

void checkInside(const Reader &r, const char *begin, const char *end, const char *what) {
  if (r.cur < begin || r.cur > end || r.end != end) fail("%s left the reader outside its range", what);
}

void checkNumber(const char *begin, size_t size) {
  Reader r(begin, size);
  double value = 0;
  const bool ok = norva::parseNumber(r, &value);
  checkInside(r, begin, begin + size, "parseNumber");

  const std::string copy(begin, size);  // followed by a NUL
  char *stop = nullptr;
  const double expected = std::strtod(copy.c_str(), &stop);
  const size_t consumed = static_cast<size_t>(stop - copy.c_str());
  if (ok != (consumed > 0)) fail("parseNumber says %d, strtod consumed %zu", ok, consumed);
  if (!ok) return;
  if (static_cast<size_t>(r.cur - begin) != consumed)
    fail("parseNumber consumed %zu bytes, strtod %zu", static_cast<size_t>(r.cur - begin), consumed);
  if (std::memcmp(&value, &expected, sizeof value) != 0 && !(std::isnan(value) && std::isnan(expected)))
    fail("parseNumber gave %.17g, strtod %.17g", value, expected);
}

void checkString(const char *begin, size_t size) {
  Reader r(begin, size);
  std::string decoded;
  const bool ok = norva::parseString(r, &decoded);
  checkInside(r, begin, begin + size, "parseString");
  if (ok && decoded.size() + 2 > static_cast<size_t>(r.cur - begin))
    fail("a string of %zu bytes decoded to %zu", static_cast<size_t>(r.cur - begin), decoded.size());
  Reader again(begin, size);
  if (norva::parseString(again, nullptr) != ok || (ok && again.cur != r.cur))
    fail("parseString without output disagrees");
}

void checkQuoted(const char *begin, size_t size) {
  std::string quoted;
  norva::jsonAppendQuoted(quoted, std::string_view(begin, size));
  if (!norva::strict::valid(quoted)) fail("a quoted string is not strict JSON");
  Reader r(quoted.data(), quoted.size());
  std::string back;
  if (!norva::parseString(r, &back) || r.cur != r.end || back != std::string_view(begin, size))
    fail("a quoted string does not read back");
}

// A member loop whose members pick their reader by the key's first byte.
void checkObject(const char *begin, size_t size) {
  Reader r(begin, size);
  norva::readObject(r, 0, [&](const std::string &key, Reader &reader, int depth) {
    bool ok = false;
    switch (key.empty() ? 0 : key[0]) {
      case 's': ok = norva::parseString(reader, nullptr); break;
      case 'n': ok = norva::parseNumber(reader, nullptr); break;
      case 'b': ok = norva::parseBool(reader, nullptr); break;
      case 'z': ok = norva::parseNull(reader); break;
      default: ok = norva::skipValue(reader, depth + 1); break;
    }
    checkInside(reader, begin, begin + size, "a member reader");
    return ok;
  });
  checkInside(r, begin, begin + size, "readObject");
  norva::atEnd(r);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  const char *begin = block.get();

  Reader r(begin, size);
  norva::skipValue(r, 0);
  checkInside(r, begin, begin + size, "skipValue");
  norva::atEnd(r);

  checkString(begin, size);
  checkNumber(begin, size);
  checkObject(begin, size);
  checkQuoted(begin, size);
  return 0;
}
