// The parameter catalogue: 55 rows, one per automatable parameter, and the
// rules that convert between the host's normalised values and plain values.
// Every conversion anywhere in the plug-in goes through these functions.
// Rows 0..52 are the sequencer kernel's parameters; the rows after them
// (Follow host, Bypass) belong to the engine and never reach the kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norva {

enum : uint32_t { kParamKindRange = 0, kParamKindList = 1, kParamKindToggle = 2 };

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
  int32_t labelCount;
  const char *const *labels;
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

// Row lookup by key ("tindrel.bpm"); nullptr when no row has that key.
const norva_param_desc *findParamByKey(std::string_view key);

// Plain-value rule: normalised -> plain (snapped for stepped range rows).
double paramToPlain(const norva_param_desc &row, double normalized);
// Normalising rule: plain -> normalised, clamped to 0..1, no snapping.
double norva_param_normalize(const norva_param_desc *row, double plain);

// Text for a normalised value ("120", "0.625", "on", a label). Writes at most
// capacity - 1 characters plus a terminating NUL; returns the length written.
size_t paramToText(const norva_param_desc &row, double normalized, char *out, size_t capacity);
// Parses text into a normalised value. On failure returns false and leaves
// *normalized unchanged.
bool paramFromText(const norva_param_desc &row, const char *text, double *normalized);

} // namespace norva
