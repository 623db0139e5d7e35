// The parameter catalogue: 55 rows, one per automatable parameter, and the
// rules that convert between the host's normalised values and plain values.
// Every conversion anywhere in the plug-in goes through these functions.
// Rows 0..52 are the sequencer kernel's parameters; the rows after them
// (Follow host, Bypass) belong to the engine and never reach the kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string_view>

namespace norva {

enum : uint32_t { kParamKindRange = 0, kParamKindList = 1, kParamKindToggle = 2 };

// How a row's value reads as text for the host (paramToText, paramFromText).
// Each also reads a plain number in the units it writes.
enum ParamText : uint32_t {
  kTextNumber = 0,  // the plain value, at most two decimals: "136.2", "120"
  kTextPercent,     // the plain value in percent, at most two decimals: 0.625 -> "62.5"
  kTextSigned,      // a whole number with its sign: "+3", "-2", "0"
  kTextOctaves,     // octaves up from the first (plain - 1), with the sign: "0", "+2"
  kTextCount,       // counted from 1 (plain + 1): channel "1" .. "16"
  kTextOnOff,       // "On", "Off"
  kTextNamed,       // labels[plain - min]: "1/16", "Backward"
  kTextNote,        // a pitch class by name, "C" .. "B"; reads sharps and flats
  kTextScaleMask,   // a scale's name ("Major") or its notes from the key root ("C D E F# A")
  kTextController,  // a MIDI controller: "CC 1"
};

struct norva_param_desc {
  uint32_t id;
  const char *key;
  const char *title;
  const char *group;
  uint32_t kind;
  double min;
  double max;
  double step;
  double defaultPlain;
  double defaultNormalized;
  const char *units;
  int32_t labelCount;         // choices (list kind) or value names (kTextNamed, kTextNote)
  const char *const *labels;
  uint32_t text;              // ParamText
};

// The catalogue's row ids: the host's parameter ids, the kernel's parameter
// numbers and the index of every per-parameter array.
enum ParamId : uint32_t {
  kParamRun = 0,
  kParamBpm,
  kParamResolution,
  kParamShuffle,
  kParamGateScale,
  kParamVelocityScale,
  kParamTranspose,
  kParamOctave,
  kParamDirection,
  kParamPattern,
  kParamLength,
  kParamChainOn,
  kParamChainStart,
  kParamChainEnd,
  kParamCurveCc,
  kParamCurveBipolar,
  kParamKeyRoot,
  kParamScaleMask,
  kParamKeyFollow,
  kParamSeed,
  kParamChannel,
  kParamFirstStepVelocity, // step k (1..32) is kParamFirstStepVelocity + k - 1
  kParamFollowHost = kParamFirstStepVelocity + 32, // appended: ids 0..52 keep their meaning
  kParamBypass,
};

inline constexpr uint32_t kStepVelocityParamCount = 32;
// The kernel's parameters: ids below this reach the sequencer kernel.
inline constexpr uint32_t kKernelParamCount = kParamFirstStepVelocity + kStepVelocityParamCount;
static_assert(kKernelParamCount == 53 && kParamFollowHost == kKernelParamCount);
inline constexpr uint32_t kParamCount = kParamBypass + 1;

// The host's bypass switch (announced with the VST 3 bypass flag).
inline constexpr uint32_t kBypassParamId = kParamBypass;

extern const norva_param_desc NORVA_PARAMS[kParamCount];

// The rows' display groups, in the order the host lists them. Each is one
// VST 3 unit below the root unit (0), with the id of its index + 1.
inline constexpr const char *kParamGroups[] = {"Transport", "Pattern", "Chain", "Curve",
                                               "Scale",     "Internal", "Steps"};
inline constexpr int32_t kParamGroupCount = int32_t(std::size(kParamGroups));
constexpr int32_t paramGroupUnitId(int32_t group) { return group + 1; }
// The unit of a row's group; 0 (the root) for a group not listed above.
int32_t paramUnitId(const norva_param_desc &row);

// Value names. Resolution by its index (the order of the kernel's step
// table), direction by its mode, pitch classes from C.
inline constexpr const char *kResolutionNames[] = {"1/2",   "1/4",   "1/8",    "1/16",   "1/32", "1/64",
                                                   "1/4 T", "1/8 T", "1/16 T", "1/32 T", "1/8 .", "1/16 ."};
inline constexpr const char *kDirectionNames[] = {"Forward", "Backward",    "Ping-pong", "Ping-pong, ends twice",
                                                  "Random",  "Random walk"};
inline constexpr const char *kNoteNames[] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};
inline constexpr int32_t kPitchClasses = 12;

// Common scales as scale masks: bit d holds the note d semitones above the
// key root.
struct ScalePreset {
  const char *name;
  uint32_t mask;
};
constexpr uint32_t scaleMaskOf(std::initializer_list<int> degrees) {
  uint32_t mask = 0;
  for (int degree : degrees) mask |= 1u << degree;
  return mask;
}
inline constexpr ScalePreset kScalePresets[] = {
    {"Chromatic", scaleMaskOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})},
    {"Major", scaleMaskOf({0, 2, 4, 5, 7, 9, 11})},
    {"Natural minor", scaleMaskOf({0, 2, 3, 5, 7, 8, 10})},
    {"Harmonic minor", scaleMaskOf({0, 2, 3, 5, 7, 8, 11})},
    {"Melodic minor", scaleMaskOf({0, 2, 3, 5, 7, 9, 11})},
    {"Dorian", scaleMaskOf({0, 2, 3, 5, 7, 9, 10})},
    {"Phrygian", scaleMaskOf({0, 1, 3, 5, 7, 8, 10})},
    {"Lydian", scaleMaskOf({0, 2, 4, 6, 7, 9, 11})},
    {"Mixolydian", scaleMaskOf({0, 2, 4, 5, 7, 9, 10})},
    {"Locrian", scaleMaskOf({0, 1, 3, 5, 6, 8, 10})},
    {"Major pentatonic", scaleMaskOf({0, 2, 4, 7, 9})},
    {"Minor pentatonic", scaleMaskOf({0, 3, 5, 7, 10})},
    {"Blues", scaleMaskOf({0, 3, 5, 6, 7, 10})},
    {"Whole tone", scaleMaskOf({0, 2, 4, 6, 8, 10})},
};

// The step count announced to the host: (max - min) / step for a stepped
// range row of at most kMaxAnnouncedSteps steps, 1 for a toggle, labels - 1
// for a list; 0 (continuous) otherwise. A host that keeps normalised values
// in 32 bits and quantises them to its steps lands on the same plain value
// for every step up to that count (2^12 - 1: the scale mask's 4094 steps
// fit, the seed's 65535 would not).
inline constexpr int32_t kMaxAnnouncedSteps = 4095;
int32_t paramStepCount(const norva_param_desc &row);
// Rows whose values are names the host may offer as a list.
bool paramIsList(const norva_param_desc &row);

// Row lookup by key ("tindrel.bpm"); nullptr when no row has that key.
const norva_param_desc *findParamByKey(std::string_view key);

// Plain-value rule: normalised -> plain (snapped for stepped range rows).
double paramToPlain(const norva_param_desc &row, double normalized);
// Normalising rule: plain -> normalised, clamped to 0..1, no snapping.
double norva_param_normalize(const norva_param_desc *row, double plain);

// Text for a normalised value, by the row's ParamText ("136.2", "1/16",
// "On", "+3"); without units. keyRoot (0 = C .. 11) names the scale mask's
// notes. Writes at most capacity - 1 characters plus a terminating NUL;
// returns the length written.
size_t paramToText(const norva_param_desc &row, double normalized, char *out, size_t capacity,
                   int keyRoot = 0);
// Reads what paramToText writes (names in any case), and numbers in the
// units it writes; trailing text after a number is ignored ("140 BPM"). On
// failure returns false and leaves *normalized unchanged.
bool paramFromText(const norva_param_desc &row, const char *text, double *normalized, int keyRoot = 0);

} // namespace norva
