#include "banks/pad_overrides.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace norva {
namespace {

struct PadSetting {
  const char *key;
  size_t keyLength;
  uint32_t bit;
  double min;
  double max;
  PadValueRule rule;
  double SamplerPadOverride::*field;
};

#define PAD_SETTING(name, bit, lo, hi, rule) \
  PadSetting { #name, sizeof(#name) - 1, bit, lo, hi, PadValueRule::rule, &SamplerPadOverride::name }

// In mask-bit order, which is also the order they are written in.
constexpr PadSetting kPadSettings[] = {
    PAD_SETTING(transpose, kPadTranspose, -24.0, 24.0, whole),
    PAD_SETTING(fineTune, kPadFineTune, -100.0, 100.0, range),
    PAD_SETTING(gain, kPadGain, 0.0, 4.0, range),
    PAD_SETTING(pan, kPadPan, -1.0, 1.0, range),
    PAD_SETTING(start, kPadStart, 0.0, 1.0, range),
    PAD_SETTING(end, kPadEnd, 0.0, 1.0, range),
    PAD_SETTING(attack, kPadAttack, 0.0, 2.0, range),
    PAD_SETTING(release, kPadRelease, 0.001, 4.0, range),
    PAD_SETTING(filterHz, kPadFilterHz, 20.0, 20000.0, range),
    PAD_SETTING(resonance, kPadResonance, 0.1, 18.0, range),
    PAD_SETTING(reverse, kPadReverse, 0.0, 1.0, zeroOrOne),
    PAD_SETTING(muted, kPadMuted, 0.0, 1.0, zeroOrOne),
    PAD_SETTING(chokeGroup, kPadChokeGroup, 0.0, 8.0, whole),
    PAD_SETTING(roundRobinGroup, kPadRoundRobinGroup, 0.0, 8.0, whole),
    PAD_SETTING(velocitySensitivity, kPadVelocitySensitivity, 0.0, 1.0, range),
};

#undef PAD_SETTING

static_assert(sizeof kPadSettings / sizeof kPadSettings[0] == kPadSettingCount);

const PadSetting *findSetting(const std::string &key) {
  for (const PadSetting &setting : kPadSettings) {
    if (key.size() == setting.keyLength && std::memcmp(key.data(), setting.key, setting.keyLength) == 0) {
      return &setting;
    }
  }
  return nullptr;
}

bool acceptable(const PadSetting &setting, double value) {
  if (!std::isfinite(value) || value < setting.min || value > setting.max) return false;
  switch (setting.rule) {
    case PadValueRule::whole: return value == std::floor(value);
    case PadValueRule::zeroOrOne: return value == 0.0 || value == 1.0;
    case PadValueRule::range: break;
  }
  return true;
}

// The settings object of one pad (depth 1). Unknown keys, and known keys
// whose value is not a number, are skipped at depth 2.
bool readPad(Reader &r, SamplerPadOverride &pad) {
  return readObject(r, 1, [&pad](const std::string &key, Reader &reader, int depth) {
    const PadSetting *setting = findSetting(key);
    if (setting == nullptr) return skipValue(reader, depth + 1);
    const Reader valueStart = reader;
    double value = 0.0;
    if (!parseNumber(reader, &value)) {
      reader = valueStart;
      return skipValue(reader, depth + 1);
    }
    // A rejected value is ignored, never clamped: the setting keeps whatever
    // an earlier member gave it, or stays unset.
    if (acceptable(*setting, value)) {
      pad.*(setting->field) = value;
      pad.mask |= setting->bit;
    }
    return true;
  });
}

}  // namespace

PadSettingFacts padSettingFacts(size_t index) {
  const PadSetting &setting = kPadSettings[index < kPadSettingCount ? index : 0];
  return {std::string_view(setting.key, setting.keyLength), setting.bit, setting.min, setting.max, setting.rule};
}

bool padKeyUsable(std::string_view key) {
  return !key.empty() && key.size() <= kMaxPadKeyBytes && key.find('\0') == std::string_view::npos;
}

void writeSamplerPadOverridesJson(std::string &out, const SamplerPadOverrides &pads) {
  out.push_back('{');
  bool firstPad = true;
  for (const SamplerPadOverride &pad : pads) {
    if (!padKeyUsable(pad.key) || pad.mask == 0) continue;
    if (!firstPad) out.push_back(',');
    firstPad = false;
    jsonAppendQuoted(out, pad.key);
    out += ":{";
    bool firstSetting = true;
    for (const PadSetting &setting : kPadSettings) {
      if ((pad.mask & setting.bit) == 0) continue;
      if (!firstSetting) out.push_back(',');
      firstSetting = false;
      out.push_back('"');
      out.append(setting.key, setting.keyLength);
      out += "\":";
      jsonAppendNumber(out, pad.*(setting.field));
    }
    out.push_back('}');
  }
  out.push_back('}');
}

bool parsePadOverrideMap(Reader &r, SamplerPadOverrides &out) {
  SamplerPadOverrides pads;
  size_t members = 0;
  const bool ok = readObject(r, 0, [&](const std::string &key, Reader &reader, int depth) {
    ++members;
    if (reader.cur >= reader.end || *reader.cur != '{') return skipValue(reader, depth + 1);
    SamplerPadOverride pad;
    if (!readPad(reader, pad)) return false;
    // A pad whose key can be neither written nor published is refused here,
    // which keeps the other pads of the set usable.
    if (pad.mask == 0 || !padKeyUsable(key)) return true;
    for (SamplerPadOverride &stored : pads) {
      if (stored.key == key) {
        pad.key = key;
        stored = std::move(pad);
        return true;
      }
    }
    if (pads.size() < kMaxPadOverrides) {
      pad.key = key;
      pads.push_back(std::move(pad));
    }
    return true;
  });
  if (!ok) return false;
  if (members > kMaxPadOverrides) pads.clear();
  out = std::move(pads);
  return true;
}

bool parseSamplerPadOverridesJson(const char *text, size_t length, SamplerPadOverrides &out) {
  if (text == nullptr) return false;
  Reader r(text, length);
  SamplerPadOverrides pads;
  if (!parsePadOverrideMap(r, pads) || !atEnd(r)) return false;
  out = std::move(pads);
  return true;
}

bool padOverridesPublishable(const SamplerPadOverrides &pads) {
  if (pads.size() > kMaxPadOverrides) return false;
  for (const SamplerPadOverride &pad : pads) {
    if (!padKeyUsable(pad.key) || pad.mask == 0) return false;
  }
  return true;
}

}  // namespace norva
