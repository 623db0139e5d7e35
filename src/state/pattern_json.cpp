#include "state/pattern_json.h"

#include <cmath>
#include <cstring>

namespace norva {
namespace {

// A whole number in [lo, hi]; "true"/"false" as 1/0 where `flags` allows.
bool readWhole(Reader &r, int lo, int hi, bool flags, uint8_t &out) {
  skipWhitespace(r);
  if (flags && r.cur < r.end && (*r.cur == 't' || *r.cur == 'f')) {
    bool b = false;
    if (!parseBool(r, &b)) return false;
    out = b ? 1 : 0;
    return true;
  }
  double x = 0;
  if (!parseNumber(r, &x) || !(x >= lo && x <= hi) || x != std::floor(x)) return false;
  out = uint8_t(x);
  return true;
}

bool readStep(Reader &r, int depth, AuthoredPattern &pattern, int step) {
  return readObject(r, depth, [&](const std::string &key, Reader &reader, int objectDepth) {
    const int field = stepFieldNamed(key);
    if (field < 0) return skipValue(reader, objectDepth + 1);
    uint8_t byte = 0;
    if (!readWhole(reader, 0, kStepFieldByteMax, field == kStepTie || field == kStepOn, byte)) return false;
    pattern.steps[field][step] = uint8_t(heldStepValue(field, byte));
    return true;
  });
}

bool readSteps(Reader &r, int depth, AuthoredPattern &pattern) {
  if (!consumeByte(r, '[')) return false;
  if (consumeByte(r, ']')) return true;
  int step = 0;
  do {
    if (step >= kPlaneSteps) return false;
    skipWhitespace(r);
    if (!readStep(r, depth + 1, pattern, step++)) return false;
  } while (consumeByte(r, ','));
  return consumeByte(r, ']');
}

} // namespace

AuthoredPattern patternOfPlane(const uint8_t (&plane)[kPlaneBytes], int pattern) {
  AuthoredPattern out;
  for (int field = 0; field < kStepFieldCount; ++field)
    std::memcpy(out.steps[field], plane + planeLaneOffset(field) + planeCell(pattern, 0), kPlaneSteps);
  for (int field = 0; field < kPatternFieldCount; ++field) out.fields[field] = plane[planeRowOffset(field) + pattern];
  return out;
}

void putPatternIntoPlane(uint8_t (&plane)[kPlaneBytes], int pattern, const AuthoredPattern &bytes) {
  for (int field = 0; field < kStepFieldCount; ++field)
    std::memcpy(plane + planeLaneOffset(field) + planeCell(pattern, 0), bytes.steps[field], kPlaneSteps);
  for (int field = 0; field < kPatternFieldCount; ++field) plane[planeRowOffset(field) + pattern] = bytes.fields[field];
}

void writePatternJson(std::string &out, int index, const AuthoredPattern &pattern) {
  out += "{\"index\":";
  jsonAppendNumber(out, index);
  for (int field = 0; field < kPatternFieldCount; ++field) {
    out += ",\"";
    out += kPatternFieldNames[field];
    out += "\":";
    jsonAppendNumber(out, pattern.fields[field]);
  }
  out += ",\"steps\":[";
  for (int step = 0; step < kPlaneSteps; ++step) {
    out += step == 0 ? "{" : ",{";
    for (int field = 0; field < kStepFieldCount; ++field) {
      if (field != 0) out += ',';
      out += '"';
      out += kStepFieldNames[field];
      out += "\":";
      jsonAppendNumber(out, pattern.steps[field][step]);
    }
    out += '}';
  }
  out += "]}";
}

bool readPatternJson(Reader &r, int depth, AuthoredPattern &pattern, int *index) {
  return readObject(r, depth, [&](const std::string &key, Reader &reader, int objectDepth) {
    if (key == "steps") return readSteps(reader, objectDepth + 1, pattern);
    if (key == "index") {
      uint8_t at = 0;
      if (!readWhole(reader, 0, kPlanePatterns - 1, false, at)) return false;
      if (index != nullptr) *index = at;
      return true;
    }
    const int field = patternFieldNamed(key);
    if (field < 0) return skipValue(reader, objectDepth + 1);
    return readWhole(reader, kPatternFieldMin[field], kPatternFieldMax[field], false, pattern.fields[field]);
  });
}

bool parsePatternFile(std::string_view text, uint8_t (&plane)[kPlaneBytes], std::string &error) {
  uint8_t result[kPlaneBytes];
  writeFactoryPlane(result);
  error.clear();
  Reader r(text.data(), text.size());
  int patterns = 0;
  const bool ok = readObject(r, 0, [&](const std::string &key, Reader &reader, int depth) {
    if (key != "patterns") return skipValue(reader, depth + 1);
    if (!consumeByte(reader, '[')) {
      error = "\"patterns\" is not a list";
      return false;
    }
    if (consumeByte(reader, ']')) return true;
    do {
      int index = -1;
      skipWhitespace(reader);
      // Every factory pattern is the same: absent members keep its values.
      AuthoredPattern pattern = patternOfPlane(result, 0);
      if (!readPatternJson(reader, depth + 2, pattern, &index)) {
        error = "pattern " + std::to_string(patterns + 1) + " of the list is malformed";
        return false;
      }
      if (index < 0) {
        error = "pattern " + std::to_string(patterns + 1) + " of the list has no \"index\"";
        return false;
      }
      putPatternIntoPlane(result, index, pattern);
      ++patterns;
    } while (consumeByte(reader, ','));
    if (!consumeByte(reader, ']')) {
      error = "\"patterns\" is not a list of pattern objects";
      return false;
    }
    return true;
  });
  if (!ok || !atEnd(r)) {
    if (error.empty()) error = "not a pattern file (a JSON object with \"patterns\")";
    return false;
  }
  std::memcpy(plane, result, kPlaneBytes);
  return true;
}

} // namespace norva
