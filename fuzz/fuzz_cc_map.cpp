// CC maps from arbitrary text held in a heap block of exactly the input's
// size, so any read at or past the end is an AddressSanitizer report. A
// successful parse gives a map within its limits (bounds finite); its written
// form, alone and inside the "norva.ccMapChanged" message, is strict JSON and
// reads back to the same bindings, and writing that again gives the same
// text. A failed parse leaves the caller's map alone.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "ccmap/cc_map.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"
#include "params/params.h"

namespace {

using norva::CcBinding;
using norva::CcMap;
using norva::fuzz::fail;

void checkLimits(const CcMap &map) {
  if (map.count > norva::kCcMapCapacity) fail("%u bindings", map.count);
  for (uint32_t i = 0; i < map.count; ++i) {
    const CcBinding &b = map.bindings[i];
    if (b.paramIndex >= norva::kParamCount || b.cc > 127 || b.channel > 16 || static_cast<unsigned>(b.curve) > 3 ||
        static_cast<unsigned>(b.valueMode) > 4 || static_cast<unsigned>(b.takeover) > 2)
      fail("binding %u out of range: param %u cc %u channel %u", i, b.paramIndex, b.cc, b.channel);
    if ((b.hasMin && !std::isfinite(b.min)) || (b.hasMax && !std::isfinite(b.max))) fail("binding %u: bound not finite", i);
  }
}

bool sameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameAfterWriting(const CcBinding &a, const CcBinding &b) {
  return a.paramIndex == b.paramIndex && a.cc == b.cc && a.channel == b.channel && a.curve == b.curve &&
         a.valueMode == b.valueMode && a.takeover == b.takeover && a.enabled == b.enabled && a.hasMin == b.hasMin &&
         a.hasMax == b.hasMax && sameDouble(a.min, b.min) && sameDouble(a.max, b.max);
}

void checkSame(const CcMap &written, const CcMap &read, const std::string &text) {
  if (read.count != written.count) fail("%u bindings written, %u read back: %s", written.count, read.count, text.c_str());
  for (uint32_t i = 0; i < read.count; ++i)
    if (!sameAfterWriting(written.bindings[i], read.bindings[i])) fail("binding %u changed: %s", i, text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);

  CcMap map;
  map.count = 1;
  map.bindings[0].paramIndex = 7;
  map.bindings[0].cc = 99;
  if (!norva::parseCcMapJson(block.get(), size, map)) {
    if (map.count != 1 || map.bindings[0].paramIndex != 7 || map.bindings[0].cc != 99)
      fail("a failed parse changed the map");
    return 0;
  }
  checkLimits(map);

  std::string text;
  norva::writeCcMapJson(text, map);
  if (!norva::strict::valid(text)) fail("written map is not strict JSON: %s", text.c_str());
  CcMap back;
  if (!norva::parseCcMapJson(text.data(), text.size(), back)) fail("written map does not parse: %s", text.c_str());
  checkSame(map, back, text);

  std::string message;
  norva::writeCcMapChangedJson(message, map);
  norva::Reader r(message.data(), message.size());
  CcMap inMessage;
  bool present = false;
  const bool ok = norva::readObject(r, 0, [&](const std::string &key, norva::Reader &reader, int depth) {
    if (key == "map") return norva::parseCcMapValue(reader, inMessage, present);
    return norva::skipValue(reader, depth + 1);
  });
  if (!ok || !norva::atEnd(r) || !present) fail("changed message does not read back: %s", message.c_str());
  checkSame(map, inMessage, message);

  std::string again;
  norva::writeCcMapJson(again, back);
  CcMap third;
  if (!norva::parseCcMapJson(again.data(), again.size(), third)) fail("rewritten map does not parse");
  std::string last;
  norva::writeCcMapJson(last, third);
  if (last != again) fail("written form is not stable: %s / %s", again.c_str(), last.c_str());
  return 0;
}
