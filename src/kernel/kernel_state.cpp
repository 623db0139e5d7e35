#include "kernel/kernel_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "params/params.h"

namespace norva::kernel {

static_assert(kSteps == int(kStepVelocityParamCount), "one step-velocity parameter per step");

namespace {

double clampd(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double micros(double v, double lo, double hi) { return std::floor(clampd(v, lo, hi) * 1000000.0 + 0.5); }

const norva_param_desc &row(int id) { return NORVA_PARAMS[id]; }

// The value held within its row's range.
double clampToRow(int id, double v) { return clampd(v, row(id).min, row(id).max); }

// Millionths of the value held within its row's range.
double rowMicros(int id, double v) { return micros(v, row(id).min, row(id).max); }

bool insideRow(int id, double v) { return v >= row(id).min && v <= row(id).max; }

void clampWalkToLength(KernelState &s) {
  const int length = patternLength(s, int(s.currentPattern));
  if (s.walkPosition > length - 1) s.walkPosition = 0;
  if (s.cycleStep > length - 1) s.cycleStep = 0;
}

// Applies one accepted-or-rejected change by catalogue id. Every bound is
// checked before anything changes, below as well as above the row's range:
// a value under the minimum would otherwise index the plane with a negative
// position.
bool setById(KernelState &s, int id, double value) {
  if (!std::isfinite(value)) return false;
  switch (id) {
  case kParamRun:
    if (value < 0.5) {
      s.running = 0;
      s.hasStarted = 0;
    } else {
      if (s.running == 0) s.hasStarted = 0;
      s.running = 1;
    }
    setClock(s, ClockMode(int(s.clockMode)));
    break;
  case kParamBpm: s.bpmMicros = rowMicros(id, value); break;
  case kParamShuffle: s.shuffleMicros = rowMicros(id, value); break;
  case kParamGateScale: s.gateScaleMicros = rowMicros(id, value); break;
  case kParamVelocityScale: s.velocityScaleMicros = rowMicros(id, value); break;
  case kParamTranspose: s.transposeShifted = std::floor(clampToRow(id, value) + 0.5) + 64; break;
  case kParamOctave: s.octave = std::floor(clampToRow(id, value)); break;
  // Below the range is refused, above it is held at the top.
  case kParamResolution:
  case kParamDirection:
  case kParamChannel: {
    if (value < row(id).min) return false;
    const double held = std::floor(clampToRow(id, value));
    (id == kParamResolution ? s.resolution : id == kParamDirection ? s.direction : s.channel) = held;
    break;
  }
  case kParamSeed: s.seed = value; break;
  case kParamCurveBipolar: s.curveBipolar = value < 0.5 ? 0 : 1; break;
  case kParamKeyFollow: s.keyFollow = value < 0.5 ? 0 : 1; break;
  case kParamChainOn: s.chainOn = value < 0.5 ? 0 : 1; break;
  // Outside the range is refused.
  case kParamCurveCc:
    if (!insideRow(id, value)) return false;
    s.curveCc = std::floor(value);
    break;
  case kParamKeyRoot:
    if (!insideRow(id, value)) return false;
    s.keyRoot = std::floor(value);
    break;
  case kParamScaleMask:
    if (!insideRow(id, value)) return false;
    s.scaleMask = std::floor(value);
    break;
  case kParamChainStart:
    if (!insideRow(id, value) || value > s.chainEnd) return false;
    s.chainStart = std::floor(value);
    break;
  case kParamChainEnd:
    if (!insideRow(id, value) || value < s.chainStart) return false;
    s.chainEnd = std::floor(value);
    break;
  case kParamPattern:
    if (!insideRow(id, value)) return false;
    s.selectedPattern = std::floor(value);
    break;
  case kParamLength: {
    if (!insideRow(id, value)) return false;
    const int selected = int(s.selectedPattern);
    s.patternLengths[selected] = int32_t(std::floor(value));
    s.liveLength = s.patternLengths[selected];
    if (s.selectedPattern == s.currentPattern) {
      if (s.walkPosition > value - 1) s.walkPosition = 0;
      if (s.cycleStep > value - 1) s.cycleStep = 0;
    }
    break;
  }
  default: {
    if (id < int(kParamFirstStepVelocity) || id >= int(kKernelParamCount)) return false;
    if (!insideRow(id, value)) return false;
    s.liveVelocities[id - kParamFirstStepVelocity] = int32_t(std::floor(value));
    break;
  }
  }

  // Whatever changed, playback returns to the selected pattern and that
  // pattern's velocity lane follows the step-velocity parameters.
  s.currentPattern = s.selectedPattern;
  clampWalkToLength(s);
  std::memcpy(&s.stepVelocity[int(s.selectedPattern) * kSteps], s.liveVelocities,
              sizeof s.liveVelocities);
  return true;
}

} // namespace

KernelState *createState() { return new (std::nothrow) KernelState(); }

bool prepare(KernelState &s, const PrepareConfig &config) {
  if (!(config.sampleRate > 0) || !std::isfinite(config.sampleRate)) return false;
  if (config.maxFrames < 1 || config.maxFrames > uint32_t(kMaxFrames)) return false;
  if (config.inputChannels != 0 || config.outputChannels != 0) return false;
  s.sampleRate = std::floor(config.sampleRate);
  seedAuthoredPlane(s);
  clearPerformance(s);
  s.baseFrame = 0;
  s.cursorFrame = 0;
  s.prepared = 1;
  return true;
}

bool setParameter(KernelState &s, const char *key, double value) {
  if (key == nullptr) return false;
  const norva_param_desc *row = findParamByKey(key);
  if (row == nullptr) return false;
  return setById(s, int(row->id), value);
}

bool applyParameter(KernelState &s, double id, double value) {
  if (!(id >= 0 && id < kKernelParamCount) || id != std::floor(id)) return false;
  return setById(s, int(id), value);
}

int velocityStep(const char *key) {
  static constexpr char kPrefix[] = "tindrel.g";
  if (key == nullptr || std::strncmp(key, kPrefix, sizeof kPrefix - 1) != 0) return -1;
  const char *digits = key + sizeof kPrefix - 1;
  // "1".."32" exactly: no sign, no leading zero, nothing after.
  if (digits[0] < '1' || digits[0] > '9') return -1;
  int k = digits[0] - '0';
  if (digits[1] != '\0') {
    if (digits[1] < '0' || digits[1] > '9' || digits[2] != '\0') return -1;
    k = k * 10 + (digits[1] - '0');
  }
  return k >= 1 && k <= kSteps ? k - 1 : -1;
}

void resetWalk(KernelState &s) {
  const int pattern = int(s.currentPattern);
  s.walkPosition = effectiveDirection(s, pattern) == 1 ? patternLength(s, pattern) - 1 : 0;
  s.walkPhase = 0;
  s.cycleStep = 0;
}

void clearPerformance(KernelState &s) {
  s.gridPlaying = 0;
  setClock(s, ClockMode::own);
  s.in.count = 0;
  s.pending.count = 0;
  s.out.count = 0;
  s.nextStepFrame = 0;
  s.hasStarted = 0;
  s.stepCounter = 0;
  s.sustainActive = 0;
  s.sustainChannel = 0;
  s.sustainNote = 0;
  s.sustainOffFrame = 0;
  s.previousTie = 0;
  s.hasLastCc = 0;
  s.lastCc = 0;
  s.keyShift = 128;
  std::fill(std::begin(s.passedNotes), std::end(s.passedNotes), uint8_t(0));
  resetWalk(s);
}

void reset(KernelState &s) {
  seedAuthoredPlane(s);
  clearPerformance(s);
  s.baseFrame = 0;
  s.cursorFrame = 0;
}

int patternLength(const KernelState &s, int pattern) {
  const int32_t length = s.patternLengths[pattern];
  if (length <= 0) return 1;
  return length > kSteps ? kSteps : length;
}

int effectiveDirection(const KernelState &s, int pattern) {
  const int32_t d = s.patternDirections[pattern];
  return d >= 1 && d <= 6 ? d - 1 : int(s.direction);
}

} // namespace norva::kernel
