// Per-pad sampler overrides: the editor's adjustments of a sampler layer,
// keyed by pad, each with any subset of fifteen settings. The set travels by
// value between the editor message, the bank control, the engine and both
// state documents; its JSON form is one object of pad key -> settings object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/json.h"

namespace norva {

inline constexpr size_t kMaxPadOverrides = 256;
inline constexpr size_t kMaxPadKeyBytes = 160;

// Mask bits, one per setting, in the order the settings are written.
enum PadOverrideBit : uint32_t {
  kPadTranspose = 1u << 0,
  kPadFineTune = 1u << 1,
  kPadGain = 1u << 2,
  kPadPan = 1u << 3,
  kPadStart = 1u << 4,
  kPadEnd = 1u << 5,
  kPadAttack = 1u << 6,
  kPadRelease = 1u << 7,
  kPadFilterHz = 1u << 8,
  kPadResonance = 1u << 9,
  kPadReverse = 1u << 10,
  kPadMuted = 1u << 11,
  kPadChokeGroup = 1u << 12,
  kPadRoundRobinGroup = 1u << 13,
  kPadVelocitySensitivity = 1u << 14,
};

// What a setting accepts: a value in [min, max], whole, or exactly 0 or 1.
enum class PadValueRule : uint8_t { range, whole, zeroOrOne };

// One setting as documents name it: its JSON key, mask bit and accepted
// values. A value outside them is ignored when read, never clamped.
struct PadSettingFacts {
  std::string_view key;
  uint32_t bit;
  double min;
  double max;
  PadValueRule rule;
};

inline constexpr size_t kPadSettingCount = 15;
// The settings in mask-bit order, which is also the order they are written
// in; index below kPadSettingCount.
PadSettingFacts padSettingFacts(size_t index);

// One pad. Only settings whose bit is in mask mean anything.
struct SamplerPadOverride {
  std::string key;  // at most kMaxPadKeyBytes bytes
  uint32_t mask = 0;
  double transpose = 0.0;            // semitones, whole, -24..24
  double fineTune = 0.0;             // cents, -100..100
  double gain = 1.0;                 // linear, 0..4
  double pan = 0.0;                  // -1 left .. 1 right
  double start = 0.0;                // fraction of the sample, 0..1
  double end = 0.0;                  // fraction of the sample, 0..1
  double attack = 0.0;               // seconds, 0..2
  double release = 0.0;              // seconds, 0.001..4
  double filterHz = 0.0;             // 20..20000
  double resonance = 0.7;            // 0.1..18
  double reverse = 0.0;              // exactly 0 or 1
  double muted = 0.0;                // exactly 0 or 1
  double chokeGroup = 0.0;           // whole, 0..8
  double roundRobinGroup = 0.0;      // whole, 0..8
  double velocitySensitivity = 1.0;  // 0..1
};

// Pads in the order they were first read, keys unique, at most
// kMaxPadOverrides. Empty means no overrides.
using SamplerPadOverrides = std::vector<SamplerPadOverride>;

// A pad key a document can carry and give back: 1..kMaxPadKeyBytes bytes
// and no NUL byte. Pads under any other key are refused when read, left out
// when written and refused by the engine.
bool padKeyUsable(std::string_view key);

// Appends the set as one object. Pads whose key is not usable or whose mask
// is 0 are left out; a set value that is not finite is written as null.
void writeSamplerPadOverridesJson(std::string &out, const SamplerPadOverrides &pads);

// A whole text that is one pad object (white space around it allowed). out is
// replaced only on success.
bool parseSamplerPadOverridesJson(const char *text, size_t length, SamplerPadOverrides &out);

// One pad object inside a larger document, at the reader's position. Values
// outside their accepted range are dropped setting by setting; a pad left
// with no setting, or under a key that is not usable, is dropped; more than
// kMaxPadOverrides members empty the
// whole set. Fails only on malformed JSON. out is replaced only on success.
bool parsePadOverrideMap(Reader &r, SamplerPadOverrides &out);

// The engine's acceptance limits: at most kMaxPadOverrides pads, every key
// usable, every mask non-zero.
bool padOverridesPublishable(const SamplerPadOverrides &pads);

}  // namespace norva
