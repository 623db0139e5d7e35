#include "params/params.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace norva {
namespace {

constexpr double normalizedDefault(double min, double max, double plain) {
  return (plain - min) / (max - min);
}

constexpr norva_param_desc rangeRow(uint32_t id, const char *key, const char *title,
                                    const char *group, double min, double max, double step,
                                    double defaultPlain, const char *units = "") {
  return {id,   key,         title,        group, kParamKindRange,
          min,  max,         step,         defaultPlain,
          normalizedDefault(min, max, defaultPlain),
          units, 0,          nullptr};
}

constexpr double stepVelocityDefault(uint32_t k) {
  switch ((k - 1) % 4) {
  case 0: return 100;
  case 2: return 0;
  default: return 60;
  }
}

#define NORVA_STEP_ROW(k)                                                                    \
  rangeRow(kParamFirstStepVelocity + (k) - 1, "tindrel.g" #k, "Step " #k, "Steps", 0, 127, 1, stepVelocityDefault(k))

} // namespace

const norva_param_desc NORVA_PARAMS[kParamCount] = {
    rangeRow(kParamRun, "tindrel.run", "Run", "Transport", 0, 1, 1, 1),
    rangeRow(kParamBpm, "tindrel.bpm", "Tempo", "Transport", 20, 300, 0, 120, "BPM"),
    rangeRow(kParamResolution, "tindrel.resolution", "Resolution", "Transport", 0, 11, 1, 3),
    rangeRow(kParamShuffle, "tindrel.shuffle", "Shuffle", "Transport", 0.5, 0.75, 0, 0.5),
    rangeRow(kParamGateScale, "tindrel.gateScale", "Gate scale", "Pattern", 0.05, 2, 0, 1),
    rangeRow(kParamVelocityScale, "tindrel.velocityScale", "Velocity scale", "Pattern", 0, 2, 0, 1),
    rangeRow(kParamTranspose, "tindrel.transpose", "Transpose", "Pattern", -24, 24, 1, 0),
    rangeRow(kParamOctave, "tindrel.octave", "Octave range", "Pattern", 1, 5, 1, 1),
    rangeRow(kParamDirection, "tindrel.direction", "Direction", "Pattern", 0, 5, 1, 0),
    rangeRow(kParamPattern, "tindrel.pattern", "Pattern", "Pattern", 0, 31, 1, 0),
    rangeRow(kParamLength, "tindrel.length", "Length", "Pattern", 1, 32, 1, 16),
    rangeRow(kParamChainOn, "tindrel.chainOn", "Chain", "Chain", 0, 1, 1, 0),
    rangeRow(kParamChainStart, "tindrel.chainStart", "Chain start", "Chain", 0, 31, 1, 0),
    rangeRow(kParamChainEnd, "tindrel.chainEnd", "Chain end", "Chain", 0, 31, 1, 7),
    rangeRow(kParamCurveCc, "tindrel.curveCc", "Curve CC", "Curve", 0, 119, 1, 1),
    rangeRow(kParamCurveBipolar, "tindrel.curveBipolar", "Curve bipolar", "Curve", 0, 1, 1, 0),
    rangeRow(kParamKeyRoot, "tindrel.keyRoot", "Key root", "Scale", 0, 11, 1, 0),
    rangeRow(kParamScaleMask, "tindrel.scaleMask", "Scale mask", "Scale", 1, 4095, 1, 4095),
    rangeRow(kParamKeyFollow, "tindrel.keyFollow", "Key follow", "Scale", 0, 1, 1, 0),
    rangeRow(kParamSeed, "tindrel.seed", "Seed", "Internal", 0, 65535, 1, 0),
    rangeRow(kParamChannel, "tindrel.channel", "Channel", "Internal", 0, 15, 1, 0),
    NORVA_STEP_ROW(1),  NORVA_STEP_ROW(2),  NORVA_STEP_ROW(3),  NORVA_STEP_ROW(4),
    NORVA_STEP_ROW(5),  NORVA_STEP_ROW(6),  NORVA_STEP_ROW(7),  NORVA_STEP_ROW(8),
    NORVA_STEP_ROW(9),  NORVA_STEP_ROW(10), NORVA_STEP_ROW(11), NORVA_STEP_ROW(12),
    NORVA_STEP_ROW(13), NORVA_STEP_ROW(14), NORVA_STEP_ROW(15), NORVA_STEP_ROW(16),
    NORVA_STEP_ROW(17), NORVA_STEP_ROW(18), NORVA_STEP_ROW(19), NORVA_STEP_ROW(20),
    NORVA_STEP_ROW(21), NORVA_STEP_ROW(22), NORVA_STEP_ROW(23), NORVA_STEP_ROW(24),
    NORVA_STEP_ROW(25), NORVA_STEP_ROW(26), NORVA_STEP_ROW(27), NORVA_STEP_ROW(28),
    NORVA_STEP_ROW(29), NORVA_STEP_ROW(30), NORVA_STEP_ROW(31), NORVA_STEP_ROW(32),
    rangeRow(kParamFollowHost, "tindrel.followHost", "Follow host", "Transport", 0, 1, 1, 0),
    rangeRow(kParamBypass, "tindrel.bypass", "Bypass", "Internal", 0, 1, 1, 0),
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

namespace {

size_t copyText(const char *text, char *out, size_t capacity) {
  if (capacity == 0) return 0;
  size_t length = std::min(std::strlen(text), capacity - 1);
  std::memcpy(out, text, length);
  out[length] = '\0';
  return length;
}

} // namespace

size_t paramToText(const norva_param_desc &row, double n, char *out, size_t capacity) {
  if (capacity == 0) return 0;
  if (row.kind == kParamKindToggle) return copyText(n >= 0.5 ? "on" : "off", out, capacity);
  double plain = paramToPlain(row, n);
  if (row.kind == kParamKindList && row.labels != nullptr) {
    // The plain value of a list row is a whole number in 0..labelCount-1.
    if (plain >= 0.0 && plain < double(row.labelCount)) {
      const char *label = row.labels[static_cast<int32_t>(plain)];
      return copyText(label != nullptr ? label : "", out, capacity);
    }
    return copyText("", out, capacity);
  }
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer - 1, plain);
  *result.ptr = '\0';
  return copyText(buffer, out, capacity);
}

bool paramFromText(const norva_param_desc &row, const char *text, double *normalized) {
  if (text == nullptr || normalized == nullptr) return false;
  char narrow[256];
  copyText(text, narrow, sizeof narrow);
  if (row.kind == kParamKindToggle) {
    if (std::strcmp(narrow, "on") == 0 || std::strcmp(narrow, "true") == 0) {
      *normalized = 1.0;
      return true;
    }
    if (std::strcmp(narrow, "off") == 0 || std::strcmp(narrow, "false") == 0) {
      *normalized = 0.0;
      return true;
    }
  }
  if (row.kind == kParamKindList && row.labels != nullptr && row.labelCount >= 1) {
    for (int32_t i = 0; i < row.labelCount; ++i) {
      if (row.labels[i] != nullptr && std::strcmp(narrow, row.labels[i]) == 0) {
        *normalized = row.labelCount == 1
                          ? 0.0
                          : double(std::min(i, row.labelCount - 1)) / double(row.labelCount - 1);
        return true;
      }
    }
  }
  char *end = nullptr;
  const double parsed = std::strtod(narrow, &end);
  if (end == narrow) return false;
  *normalized = norva_param_normalize(&row, parsed);
  return true;
}

} // namespace norva
