// The bank loader's document reader on arbitrary bytes held in a heap block
// of exactly the input's size, then the walk the loader makes over a parsed
// manifest, instrument document and preset document. The reader accepts
// exactly what the JSON toolkit's skipValue accepts as one whole document;
// a path that passes the containment test has no way up or out; every zone
// staged on an asset lies inside it with its loop inside the zone; preset
// parameters are finite and in strictly ascending key order.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "banks/bank_document.h"
#include "banks/runtime_bank.h"
#include "fuzz_support.h"

namespace {

using norva::JsonValue;
using norva::StagedZone;
using norva::fuzz::fail;

// The containment rule, spelled out again: no leading slash, no backslash,
// no ".." segment.
void checkPath(const std::string &path) {
  if (!norva::pathIsContained(path)) return;
  if (path.empty() || path[0] == '/' || path.find('\\') != std::string::npos) fail("contained path \"%s\"", path.c_str());
  const std::string padded = "/" + path + "/";
  if (padded.find("/../") != std::string::npos) fail("contained path \"%s\" goes up", path.c_str());
  if (norva::joinPath("bank", path).rfind("bank/", 0) != 0) fail("\"%s\" joins outside the folder", path.c_str());
}

void checkZone(const JsonValue &zone) {
  const uint64_t assets[][2] = {{0, 1}, {1000, 100}, {uint64_t(1) << 40, uint64_t(1) << 40}};
  for (const auto &[offset, frames] : assets) {
    const StagedZone z = norva::stageZone(zone, offset, frames, 48000);
    if (z.start < offset || z.length == 0 || z.length > frames || z.start - offset > frames - z.length)
      fail("zone at %llu+%llu outside its asset %llu+%llu", (unsigned long long)z.start,
           (unsigned long long)z.length, (unsigned long long)offset, (unsigned long long)frames);
    if (z.loop ? !(z.loopStart < z.loopEnd && z.loopEnd <= z.length) : (z.loopStart | z.loopEnd) != 0)
      fail("loop %llu..%llu in a zone of %llu frames", (unsigned long long)z.loopStart,
           (unsigned long long)z.loopEnd, (unsigned long long)z.length);
    if (z.loopCrossfadeFrames > z.loopEnd - z.loopStart) fail("crossfade longer than the loop");
    for (uint32_t key : {z.lowKey, z.highKey, z.rootKey, z.lowVelocity, z.highVelocity})
      if (key > 127) fail("key or velocity %u", key);
    if (z.trigger < 0 || z.trigger > 2) fail("trigger %d", z.trigger);
  }
}

void walk(const JsonValue &doc) {
  (void)doc.str("format");
  if (const JsonValue *table = doc.find("assetTable"); table != nullptr && table->isArray()) {
    for (const JsonValue &asset : table->array) {
      double bytes = -1;
      asset.numberMember("bytes", bytes);
      checkPath(asset.str("path"));
      (void)asset.str("codec", "wav");
    }
  }
  for (const char *list : {"instruments", "kits", "presets"}) {
    if (const JsonValue *entries = doc.find(list); entries != nullptr && entries->isArray())
      for (const JsonValue &entry : entries->array) checkPath(entry.str("document"));
  }
  if (const JsonValue *zones = doc.find("zones"); zones != nullptr && zones->isArray())
    for (const JsonValue &zone : zones->array)
      if (zone.isObject()) checkZone(zone);
  const auto params = norva::presetParams(doc);
  for (size_t i = 0; i < params.size(); ++i) {
    if (!std::isfinite(params[i].second)) fail("parameter \"%s\" is not finite", params[i].first.c_str());
    if (i > 0 && !(params[i - 1].first < params[i].first)) fail("parameters out of key order");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  JsonValue doc;
  const bool parsed = norva::parseJsonDocument(block.get(), size, doc);
  norva::Reader reader(block.get(), size);
  const bool skipped = norva::skipValue(reader, 0) && norva::atEnd(reader);
  if (parsed != skipped) fail("the document reader says %d, skipValue %d", parsed, skipped);
  if (parsed) {
    walk(doc);
    if (doc.isObject()) checkZone(doc);
  }
  return 0;
}
