#include "params/params.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace norva {
namespace {

constexpr double normalizedDefault(double min, double max, double plain) {
  return (plain - min) / (max - min);
}

constexpr norva_param_desc rangeRow(uint32_t id, const char *key, const char *title, int group,
                                    double min, double max, double step, double defaultPlain,
                                    uint32_t text = kTextNumber, const char *units = "") {
  return {id,    key, title,   kParamGroups[group], kParamKindRange, min, max, step, defaultPlain,
          normalizedDefault(min, max, defaultPlain),
          units, 0,   nullptr, text};
}

template <size_t N>
constexpr norva_param_desc namedRow(uint32_t id, const char *key, const char *title, int group,
                                    double defaultPlain, const char *const (&names)[N],
                                    uint32_t text = kTextNamed) {
  norva_param_desc row = rangeRow(id, key, title, group, 0, double(N - 1), 1, defaultPlain, text);
  row.labelCount = int32_t(N);
  row.labels = names;
  return row;
}

enum Group { kTransport, kPattern, kChain, kCurve, kScale, kInternal, kSteps };
static_assert(kSteps + 1 == kParamGroupCount, "one Group per catalogue group");

constexpr double stepVelocityDefault(uint32_t k) {
  switch ((k - 1) % 4) {
  case 0: return 100;
  case 2: return 0;
  default: return 60;
  }
}

#define NORVA_STEP_ROW(k)                                                                    \
  rangeRow(kParamFirstStepVelocity + (k) - 1, "tindrel.g" #k, "Step " #k, kSteps, 0, 127, 1, stepVelocityDefault(k))

} // namespace

const norva_param_desc NORVA_PARAMS[kParamCount] = {
    rangeRow(kParamRun, "tindrel.run", "Run", kTransport, 0, 1, 1, 1, kTextOnOff),
    rangeRow(kParamBpm, "tindrel.bpm", "Tempo", kTransport, 20, 300, 0, 120, kTextNumber, "BPM"),
    namedRow(kParamResolution, "tindrel.resolution", "Resolution", kTransport, 3, kResolutionNames),
    rangeRow(kParamShuffle, "tindrel.shuffle", "Shuffle", kTransport, 0.5, 0.75, 0, 0.5, kTextPercent, "%"),
    rangeRow(kParamGateScale, "tindrel.gateScale", "Gate scale", kPattern, 0.05, 2, 0, 1, kTextPercent, "%"),
    rangeRow(kParamVelocityScale, "tindrel.velocityScale", "Velocity scale", kPattern, 0, 2, 0, 1, kTextPercent, "%"),
    rangeRow(kParamTranspose, "tindrel.transpose", "Transpose", kPattern, -24, 24, 1, 0, kTextSigned, "st"),
    rangeRow(kParamOctave, "tindrel.octave", "Octave range", kPattern, 1, 5, 1, 1, kTextOctaves, "oct"),
    namedRow(kParamDirection, "tindrel.direction", "Direction", kPattern, 0, kDirectionNames),
    rangeRow(kParamPattern, "tindrel.pattern", "Pattern", kPattern, 0, 31, 1, 0, kTextCount),
    rangeRow(kParamLength, "tindrel.length", "Length", kPattern, 1, 32, 1, 16, kTextNumber, "steps"),
    rangeRow(kParamChainOn, "tindrel.chainOn", "Chain", kChain, 0, 1, 1, 0, kTextOnOff),
    rangeRow(kParamChainStart, "tindrel.chainStart", "Chain start", kChain, 0, 31, 1, 0, kTextCount),
    rangeRow(kParamChainEnd, "tindrel.chainEnd", "Chain end", kChain, 0, 31, 1, 7, kTextCount),
    rangeRow(kParamCurveCc, "tindrel.curveCc", "Curve CC", kCurve, 0, 119, 1, 1, kTextController),
    rangeRow(kParamCurveBipolar, "tindrel.curveBipolar", "Curve bipolar", kCurve, 0, 1, 1, 0, kTextOnOff),
    namedRow(kParamKeyRoot, "tindrel.keyRoot", "Key root", kScale, 0, kNoteNames, kTextNote),
    rangeRow(kParamScaleMask, "tindrel.scaleMask", "Scale mask", kScale, 1, 4095, 1, 4095, kTextScaleMask),
    rangeRow(kParamKeyFollow, "tindrel.keyFollow", "Key follow", kScale, 0, 1, 1, 0, kTextOnOff),
    rangeRow(kParamSeed, "tindrel.seed", "Seed", kInternal, 0, 65535, 1, 0),
    rangeRow(kParamChannel, "tindrel.channel", "Channel", kInternal, 0, 15, 1, 0, kTextCount),
    NORVA_STEP_ROW(1),  NORVA_STEP_ROW(2),  NORVA_STEP_ROW(3),  NORVA_STEP_ROW(4),
    NORVA_STEP_ROW(5),  NORVA_STEP_ROW(6),  NORVA_STEP_ROW(7),  NORVA_STEP_ROW(8),
    NORVA_STEP_ROW(9),  NORVA_STEP_ROW(10), NORVA_STEP_ROW(11), NORVA_STEP_ROW(12),
    NORVA_STEP_ROW(13), NORVA_STEP_ROW(14), NORVA_STEP_ROW(15), NORVA_STEP_ROW(16),
    NORVA_STEP_ROW(17), NORVA_STEP_ROW(18), NORVA_STEP_ROW(19), NORVA_STEP_ROW(20),
    NORVA_STEP_ROW(21), NORVA_STEP_ROW(22), NORVA_STEP_ROW(23), NORVA_STEP_ROW(24),
    NORVA_STEP_ROW(25), NORVA_STEP_ROW(26), NORVA_STEP_ROW(27), NORVA_STEP_ROW(28),
    NORVA_STEP_ROW(29), NORVA_STEP_ROW(30), NORVA_STEP_ROW(31), NORVA_STEP_ROW(32),
    rangeRow(kParamFollowHost, "tindrel.followHost", "Follow host", kTransport, 0, 1, 1, 0, kTextOnOff),
    rangeRow(kParamBypass, "tindrel.bypass", "Bypass", kInternal, 0, 1, 1, 0, kTextOnOff),
};

#undef NORVA_STEP_ROW

const norva_param_desc *findParamByKey(std::string_view key) {
  for (const auto &row : NORVA_PARAMS) {
    if (key == row.key) return &row;
  }
  return nullptr;
}

double paramToPlain(const norva_param_desc &row, double n) {
  switch (row.kind) {
  case kParamKindList: {
    const double last = row.labelCount - 1;
    return std::clamp(std::floor(last * n + 0.5), 0.0, std::max(last, 0.0));
  }
  case kParamKindToggle:
    return n >= 0.5 ? 1.0 : 0.0;
  default: {
    // NaN falls to the minimum rather than travelling on.
    const double clamped = n >= 0.0 ? std::min(n, 1.0) : 0.0;
    double p = row.min + clamped * (row.max - row.min);
    if (row.step != 0.0) p = row.step * std::floor(p / row.step + 0.5);
    return p;
  }
  }
}

double norva_param_normalize(const norva_param_desc *row, double p) {
  if (row == nullptr) return 0.0;
  switch (row->kind) {
  case kParamKindList:
    if (row->labelCount < 2) return 0.0;
    return std::clamp(p, 0.0, double(row->labelCount - 1)) / double(row->labelCount - 1);
  case kParamKindToggle:
    return p == 0.0 ? 0.0 : 1.0;
  default: {
    if (row->max == row->min) return 0.0;
    const double n = (p - row->min) / (row->max - row->min);
    return n >= 0.0 ? std::min(n, 1.0) : 0.0; // NaN normalises to 0
  }
  }
}

int32_t paramUnitId(const norva_param_desc &row) {
  for (int32_t i = 0; i < kParamGroupCount; ++i) {
    if (row.group != nullptr && std::strcmp(row.group, kParamGroups[i]) == 0) return paramGroupUnitId(i);
  }
  return 0;
}

int32_t paramStepCount(const norva_param_desc &row) {
  switch (row.kind) {
  case kParamKindList: return row.labelCount >= 2 ? row.labelCount - 1 : 1;
  case kParamKindToggle: return 1;
  default: {
    if (row.step <= 0.0 || !(row.max > row.min)) return 0;
    // Snapping counts from zero: the steps must start at min and end at max.
    const double first = row.min / row.step, steps = (row.max - row.min) / row.step;
    if (first != std::floor(first) || steps != std::floor(steps) || steps > kMaxAnnouncedSteps) return 0;
    return int32_t(steps);
  }
  }
}

bool paramIsList(const norva_param_desc &row) {
  return row.kind == kParamKindList || row.text == kTextNamed || row.text == kTextNote;
}

} // namespace norva
