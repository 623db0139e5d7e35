// Pad overrides from arbitrary text: a successful parse gives a set within the
// limits (keys unique and at most 160 bytes, at most 256 pads, every setting
// finite), and its written form parses back to the same set, bit for bit,
// apart from what the writer cannot express (empty keys, keys with a NUL
// byte). A failed parse leaves the caller's set alone.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "banks/pad_overrides.h"
#include "fuzz_support.h"

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
    if (pad.key.size() > norva::kMaxPadKeyBytes || pad.mask == 0 || pad.mask >= (1u << kSettings))
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
  SamplerPadOverrides back;
  if (!norva::parseSamplerPadOverridesJson(text.data(), text.size(), back)) fail("written set does not parse: %s", text.c_str());

  // What the text should hold: keys are written as C texts, so a key with a
  // NUL byte is cut there, and cut keys that coincide merge in place, later
  // values winning, the way a reader treats a repeated key.
  SamplerPadOverrides expected;
  bool keysCut = false;
  for (SamplerPadOverride pad : pads) {
    if (pad.key.empty()) continue;
    const size_t cut = std::strlen(pad.key.c_str());
    keysCut |= cut != pad.key.size();
    pad.key.resize(cut);
    if (pad.key.empty()) continue; // written with an empty name, which a reader drops
    bool merged = false;
    for (SamplerPadOverride &kept : expected) {
      if (kept.key == pad.key) {
        kept = pad;
        merged = true;
      }
    }
    if (!merged) expected.push_back(pad);
  }
  if (back.size() != expected.size()) fail("%zu pads written, %zu read back", expected.size(), back.size());
  for (size_t i = 0; i < back.size(); ++i)
    if (!samePad(back[i], expected[i])) fail("pad %zu changed on the way: %s", i, text.c_str());

  std::string again;
  norva::writeSamplerPadOverridesJson(again, back);
  if (again != text && !keysCut) fail("written form is not stable");
  return 0;
}
