// The bank loader's document reader on arbitrary bytes in a heap block of
// exactly the input's size, then the loader's walk over the result as a
// manifest, an instrument document and a preset document. The reader accepts
// exactly what the toolkit's skipValue accepts as one whole document; a
// contained path has no way up or out; a zone lies inside its asset with its
// loop inside the zone; preset parameters are finite, in ascending key order.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "banks/runtime_bank.h"
#include "fuzz_support.h"

namespace {

using norva::JsonValue;
using norva::fuzz::fail;

void checkPath(const std::string &path) {
  if (!norva::pathIsContained(path)) return;
  if (path[0] == '/' || path.find('\\') != std::string::npos || ("/" + path + "/").find("/../") != std::string::npos)
    fail("\"%s\" passes as contained", path.c_str());
}

void checkZone(const JsonValue &zone) {
  for (const uint64_t frames : {uint64_t(1), uint64_t(100), uint64_t(1) << 40}) {
    const norva::StagedZone z = norva::stageZone(zone, 1000, frames, 48000);
    if (z.start < 1000 || z.length == 0 || z.start - 1000 > frames - z.length) fail("zone outside its asset");
    if (z.loop ? !(z.loopStart < z.loopEnd && z.loopEnd <= z.length) : (z.loopStart | z.loopEnd) != 0)
      fail("loop outside its zone");
    if (z.loopCrossfadeFrames > z.loopEnd - z.loopStart) fail("crossfade longer than the loop");
    if (std::max({z.lowKey, z.highKey, z.rootKey, z.lowVelocity, z.highVelocity}) > 127 || uint32_t(z.trigger) > 2)
      fail("key, velocity or trigger out of range");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  JsonValue doc;
  const bool parsed = norva::parseJsonDocument(block.get(), size, doc);
  norva::Reader reader(block.get(), size);
  if (parsed != (norva::skipValue(reader, 0) && norva::atEnd(reader))) fail("the readers disagree");
  if (!parsed) return 0;
  for (const char *list : {"assetTable", "instruments", "kits", "presets", "zones"}) {
    const JsonValue *entries = doc.find(list);
    for (const JsonValue &entry : entries != nullptr ? entries->array : std::vector<JsonValue>{}) {
      checkPath(entry.str("path"));
      checkPath(entry.str("document"));
      if (entry.isObject()) checkZone(entry);
    }
  }
  const auto params = norva::presetParams(doc);
  for (size_t i = 0; i < params.size(); ++i)
    if (!std::isfinite(params[i].second) || (i > 0 && !(params[i - 1].first < params[i].first)))
      fail("parameter \"%s\" out of order or not finite", params[i].first.c_str());
  return 0;
}
