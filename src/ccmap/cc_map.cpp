#include "ccmap/cc_map.h"

#include <algorithm>
#include <cmath>

#include "params/params.h"

namespace norva {
namespace {

const char *curveName(CcCurve curve) {
  switch (curve) {
    case CcCurve::exp: return "exp";
    case CcCurve::log: return "log";
    case CcCurve::sCurve: return "s-curve";
    case CcCurve::linear: break;
  }
  return nullptr;
}

const char *valueModeName(CcValueMode mode) {
  switch (mode) {
    case CcValueMode::relativeSignedBit: return "relative-signed-bit";
    case CcValueMode::relativeBinaryOffset: return "relative-binary-offset";
    case CcValueMode::relativeTwosComplement: return "relative-twos-complement";
    case CcValueMode::toggle: return "toggle";
    case CcValueMode::absolute: break;
  }
  return nullptr;
}

const char *takeoverName(CcTakeover takeover) {
  switch (takeover) {
    case CcTakeover::pickup: return "pickup";
    case CcTakeover::scaled: return "scaled";
    case CcTakeover::none: break;
  }
  return nullptr;
}

CcCurve curveFromName(const std::string &name) {
  if (name == "exp") return CcCurve::exp;
  if (name == "log") return CcCurve::log;
  if (name == "s-curve") return CcCurve::sCurve;
  return CcCurve::linear;
}

CcValueMode valueModeFromName(const std::string &name) {
  if (name == "relative-signed-bit") return CcValueMode::relativeSignedBit;
  if (name == "relative-binary-offset") return CcValueMode::relativeBinaryOffset;
  if (name == "relative-twos-complement") return CcValueMode::relativeTwosComplement;
  if (name == "toggle") return CcValueMode::toggle;
  return CcValueMode::absolute;
}

CcTakeover takeoverFromName(const std::string &name) {
  if (name == "pickup") return CcTakeover::pickup;
  if (name == "scaled") return CcTakeover::scaled;
  return CcTakeover::none;
}

// floor(x + 0.5) held to lo..hi. Infinities and huge values land on the
// nearer bound before anything is converted to an integer; NaN has no
// nearest whole number, so it is refused and the member has no effect.
bool roundWithin(double x, uint8_t lo, uint8_t hi, uint8_t &out) {
  if (std::isnan(x)) return false;
  const double rounded = std::floor(x + 0.5);
  if (rounded <= lo) {
    out = lo;
  } else if (rounded >= hi) {
    out = hi;
  } else {
    out = static_cast<uint8_t>(rounded);
  }
  return true;
}

// A member read as a number: strtod's grammar from the value's first byte.
// A value that is not a number is skipped and number stays unread.
bool readNumberMember(Reader &r, int depth, bool &read, double &number) {
  const Reader start = r;
  read = parseNumber(r, &number);
  if (read) return true;
  r = start;
  return skipValue(r, depth + 1);
}

void appendBinding(std::string &out, const CcBinding &b) {
  out += "{\"cc\":";
  jsonAppendNumber(out, b.cc);
  out += ",\"path\":";
  jsonAppendQuoted(out, NORVA_PARAMS[b.paramIndex].key);
  if (b.channel != 0) {
    out += ",\"channel\":";
    jsonAppendNumber(out, b.channel);
  }
  if (b.hasMin) {
    out += ",\"min\":";
    jsonAppendNumber(out, b.min);
  }
  if (b.hasMax) {
    out += ",\"max\":";
    jsonAppendNumber(out, b.max);
  }
  if (const char *name = curveName(b.curve)) {
    out += ",\"curve\":\"";
    out += name;
    out += '"';
  }
  if (const char *name = valueModeName(b.valueMode)) {
    out += ",\"valueMode\":\"";
    out += name;
    out += '"';
  }
  if (const char *name = takeoverName(b.takeover)) {
    out += ",\"takeover\":\"";
    out += name;
    out += '"';
  }
  if (!b.enabled) out += ",\"enabled\":false";
  out += '}';
}

// A bindings list at '['. Elements that are not usable bindings are dropped
// by parseCcBinding; only malformed text fails.
bool readBindingsList(Reader &r, CcMap &map, uint32_t *refused) {
  ++r.cur;  // '['
  if (consumeByte(r, ']')) return true;
  for (;;) {
    if (!parseCcBinding(r, map, refused)) return false;
    if (consumeByte(r, ',')) continue;
    return consumeByte(r, ']');
  }
}

bool nextByteIs(const Reader &r, char c) { return r.cur < r.end && *r.cur == c; }

}  // namespace

void writeCcMapJson(std::string &out, const CcMap &map) {
  out += "{\"version\":1,\"bindings\":[";
  const uint32_t count = std::min(map.count, kCcMapCapacity);
  bool first = true;
  for (uint32_t i = 0; i < count; ++i) {
    const CcBinding &binding = map.bindings[i];
    if (binding.paramIndex >= kParamCount) continue;
    if (!first) out += ',';
    first = false;
    appendBinding(out, binding);
  }
  out += "]}";
}

void writeCcMapChangedJson(std::string &out, const CcMap &map) {
  out += "{\"type\":\"norva.ccMapChanged\",\"map\":";
  writeCcMapJson(out, map);
  out += '}';
}

bool parseCcBinding(Reader &r, CcMap &map, uint32_t *refused) {
  skipWhitespace(r);
  if (!nextByteIs(r, '{')) return skipValue(r, 1);

  CcBinding binding;
  bool pathSeen = false;
  bool ccSeen = false;
  const norva_param_desc *row = nullptr;
  std::string text;
  const bool ok = readObject(r, 0, [&](const std::string &key, Reader &reader, int depth) {
    if (key == "cc" || key == "channel" || key == "min" || key == "max") {
      bool read = false;
      double x = 0.0;
      if (!readNumberMember(reader, depth, read, x)) return false;
      if (!read) return true;
      bool held = true;
      if (key == "cc") {
        held = roundWithin(x, 0, kMidiCcCount - 1, binding.cc);
        ccSeen |= held;
      } else if (key == "channel") {
        held = roundWithin(x, 1, 16, binding.channel);
      } else if (!std::isfinite(x)) {
        held = false;  // a bound the writer could only write as null
      } else if (key == "min") {
        binding.min = x;
        binding.hasMin = true;
      } else {
        binding.max = x;
        binding.hasMax = true;
      }
      if (!held && refused != nullptr) ++*refused;
      return true;
    }
    if (key == "path" || key == "curve" || key == "valueMode" || key == "takeover") {
      text.clear();
      if (!parseString(reader, &text)) return false;
      if (key == "path") {
        pathSeen = true;
        if (const norva_param_desc *found = findParamByKey(text)) row = found;
      } else if (key == "curve") {
        binding.curve = curveFromName(text);
      } else if (key == "valueMode") {
        binding.valueMode = valueModeFromName(text);
      } else {
        binding.takeover = takeoverFromName(text);
      }
      return true;
    }
    if (key == "enabled") {
      const Reader start = reader;
      bool enabled = true;
      if (parseBool(reader, &enabled)) {
        binding.enabled = enabled;
        return true;
      }
      reader = start;
    }
    return skipValue(reader, depth + 1);
  });
  if (!ok) return false;

  if (pathSeen && ccSeen && row != nullptr && map.count < kCcMapCapacity) {
    binding.paramIndex = static_cast<uint32_t>(row - NORVA_PARAMS);
    map.bindings[map.count++] = binding;
  }
  return true;
}

bool parseCcMapValue(Reader &r, CcMap &out, bool &present, uint32_t *refused) {
  out.count = 0;
  present = false;
  skipWhitespace(r);
  if (nextByteIs(r, '[')) {
    present = true;
    return readBindingsList(r, out, refused);
  }
  if (nextByteIs(r, '{')) {
    return readObject(r, 0, [&](const std::string &key, Reader &reader, int depth) {
      if (key == "bindings" && nextByteIs(reader, '[')) {
        // A second "bindings" list adds to the first.
        if (!readBindingsList(reader, out, refused)) return false;
        present = true;
        return true;
      }
      return skipValue(reader, depth + 1);
    });
  }
  return skipValue(r, 1);
}

bool parseCcMapJson(const char *text, size_t length, CcMap &out, uint32_t *refused) {
  if (text == nullptr) return false;
  Reader r(text, length);
  skipWhitespace(r);
  if (!nextByteIs(r, '{') && !nextByteIs(r, '[')) return false;
  CcMap map;
  bool present = false;
  uint32_t refusedHere = 0;
  if (!parseCcMapValue(r, map, present, &refusedHere) || !atEnd(r)) return false;
  out = map;
  if (refused != nullptr) *refused += refusedHere;
  return true;
}

}  // namespace norva
