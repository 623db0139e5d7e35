// Pad overrides from arbitrary text: a successful parse gives a set within the
// limits (keys unique and usable, at most 256 pads, every setting finite),
// and its written form is strict JSON that parses back to the same set, bit
// for bit. A failed parse leaves the caller's set alone.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "banks/pad_overrides.h"
#include "fuzz_support.h"
#include "../tests/strict_json.h"

namespace {

using norva::SamplerPadOverride;
using norva::SamplerPadOverrides;
using norva::fuzz::fail;

constexpr double SamplerPadOverride::*kSettingFields[] = {
    &SamplerPadOverride::transpose,  &SamplerPadOverride::fineTune,        &SamplerPadOverride::gain,
    &SamplerPadOverride::pan,        &SamplerPadOverride::start,           &SamplerPadOverride::end,
    &SamplerPadOverride::attack,     &SamplerPadOverride::release,         &SamplerPadOverride::filterHz,
    &SamplerPadOverride::resonance,  &SamplerPadOverride::reverse,         &SamplerPadOverride::muted,
    &SamplerPadOverride::chokeGroup, &SamplerPadOverride::roundRobinGroup, &SamplerPadOverride::velocitySensitivity,
};
constexpr int kSettings = 15;

const double &setting(const SamplerPadOverride &pad, int i) { return pad.*kSettingFields[i]; }

void checkLimits(const SamplerPadOverrides &pads) {
  if (pads.size() > norva::kMaxPadOverrides) fail("%zu pads", pads.size());
  for (size_t i = 0; i < pads.size(); ++i) {
    const SamplerPadOverride &pad = pads[i];
    if (!norva::padKeyUsable(pad.key) || pad.mask == 0 || pad.mask >= (1u << kSettings))
      fail("pad %zu: key of %zu bytes, mask %u", i, pad.key.size(), pad.mask);
    for (size_t j = 0; j < i; ++j)
      if (pads[j].key == pad.key) fail("pads %zu and %zu share a key", j, i);
    for (int s = 0; s < kSettings; ++s)
      if ((pad.mask >> s & 1u) != 0 && !std::isfinite(setting(pad, s))) fail("pad %zu: setting %d not finite", i, s);
  }
}

bool samePad(const SamplerPadOverride &a, const SamplerPadOverride &b) {
  if (a.key != b.key || a.mask != b.mask) return false;
  for (int s = 0; s < kSettings; ++s) {
    if ((a.mask >> s & 1u) != 0 && std::memcmp(&setting(a, s), &setting(b, s), sizeof(double)) != 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::unique_ptr<char[]> block(new char[size]);
  if (size > 0) std::memcpy(block.get(), data, size);

  SamplerPadOverride sentinel;
  sentinel.key = "sentinel";
  sentinel.mask = norva::kPadGain;
  SamplerPadOverrides pads = {sentinel};
  if (!norva::parseSamplerPadOverridesJson(block.get(), size, pads)) {
    if (pads.size() != 1 || !samePad(pads[0], sentinel)) fail("a failed parse changed the set");
    return 0;
  }
  checkLimits(pads);

  std::string text;
  norva::writeSamplerPadOverridesJson(text, pads);
  if (!norva::strict::valid(text)) fail("written set is not strict JSON: %s", text.c_str());
  SamplerPadOverrides back;
  if (!norva::parseSamplerPadOverridesJson(text.data(), text.size(), back)) fail("written set does not parse: %s", text.c_str());

  if (back.size() != pads.size()) fail("%zu pads written, %zu read back", pads.size(), back.size());
  for (size_t i = 0; i < back.size(); ++i)
    if (!samePad(back[i], pads[i])) fail("pad %zu changed on the way: %s", i, text.c_str());

  std::string again;
  norva::writeSamplerPadOverridesJson(again, back);
  if (again != text) fail("written form is not stable");
  return 0;
}
