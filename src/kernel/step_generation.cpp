#include <algorithm>
#include <cmath>
#include <limits>

#include "kernel/kernel_state.h"
#include "kernel/runtime.h"

namespace norva::kernel {
namespace {

// Positions beyond this many quarter notes (about 580 days at 300 BPM) are
// refused: the grid's step counts stay exact doubles.
constexpr double kMaxGridPpq = 1e8;
// Steps a start carries the walk over from the bar's start, at most.
constexpr int kMaxAlignSteps = 4096;

// Off only in tests that compare the quiet path with the full one.
bool gQuietPathEnabled = true;

constexpr uint32_t kRandomPositionSeedMultiplier = 2654435761u;
constexpr uint32_t kRandomWalkSeedMultiplier = 2246822519u;
constexpr double kTwoToMinus32 = 1.0 / 4294967296.0;

double stepsPerBeatMicros(double index) {
  return index >= 0 && index <= 11 ? kStepsPerBeatMicros[int(index)] : kStepsPerBeatMicros[11];
}

bool isOdd(double counter) {
  // Counters are whole and non-negative; beyond 2^53 every double is even.
  return counter < 9007199254740992.0 && (uint64_t(counter) & 1u) != 0;
}

// Shuffle delays every odd-numbered step by the same amount.
double oddStepDelay(const KernelState &s, double stepLength) {
  double delay = floorOf(stepLength * (2 * s.shuffleMicros - 1000000) / 1000000 + 0.5);
  const double ceiling = floorOf(stepLength * 95 / 100);
  if (delay > ceiling) delay = ceiling;
  return delay < 0 ? 0 : delay;
}

// The cell of the step about to play; a position outside the plane is an
// internal fault, never a read out of bounds.
int currentCell(const KernelState &s) {
  const double cell = s.currentPattern * kSteps + s.walkPosition;
  if (!(cell >= 0 && cell < kLaneCells)) {
    runtime::trapRange((long long)cell, kLaneCells);
    return -1;
  }
  return int(cell);
}

// Pitch after scale quantisation, or -1 for no note.
[[gnu::always_inline]] inline int quantise(const KernelState &s, double pitch) {
  if (pitch < 0 || pitch > 127) return -1;
  const int p = int(pitch);
  const uint32_t mask = uint32_t(s.scaleMask);
  if (mask == 4095) return p;
  const int root = int(s.keyRoot);
  for (int k = 0; k < 12; ++k) {
    const int candidate = p - k;
    if (candidate < 0) return -1;
    if (mask >> ((candidate - root + 120) % 12) & 1u) return candidate;
  }
  return -1;
}

[[gnu::always_inline]] inline int nextPosition(KernelState &s, int length, int direction) {
  const int pos = int(s.walkPosition);
  if (length <= 1) return 0;
  switch (direction) {
  case 0: return (pos + 1) % length;
  case 1: return (length + pos - 1) % length;
  case 2:
    if (s.walkPhase == 0) {
      if (pos + 1 > length - 1) {
        s.walkPhase = 1;
        return length - 2;
      }
      return pos + 1;
    }
    if (pos >= 1) return pos - 1;
    s.walkPhase = 0;
    return 1;
  case 3:
    if (s.walkPhase == 0) {
      if (pos + 1 > length - 1) {
        s.walkPhase = 1;
        return pos; // the last step repeats
      }
      return pos + 1;
    }
    if (pos >= 1) return pos - 1;
    s.walkPhase = 0;
    return pos; // the first step repeats
  case 4: {
    const uint32_t h = hashStep(s.stepCounter + multiplyU32(s.seed, kRandomPositionSeedMultiplier));
    const int n = int(floorOf(length * double(h) * kTwoToMinus32));
    return n > length - 1 ? length - 1 : n;
  }
  default: {
    const uint32_t h = hashStep(s.stepCounter + multiplyU32(s.seed, kRandomWalkSeedMultiplier));
    return (pos + ((h & 1u) == 0 ? length - 1 : 1)) % length;
  }
  }
}

// Plays one step at stepFrame; followingFrame is the swung frame of the next.
// Inlined into both clocks' loops.
[[gnu::always_inline]] inline void playStep(KernelState &s, double stepLength, double stepFrame,
                                            double followingFrame) {
  const int cell = currentCell(s);
  if (cell < 0) return;
  const int channel = int(s.channel);

  int curve = s.stepCurve[cell];
  if (s.curveBipolar == 1) {
    curve = 2 * (curve - 64) + 64;
    curve = curve < 0 ? 0 : (curve > 127 ? 127 : curve);
  }
  if (!(s.hasLastCc == 1 && s.lastCc == curve)) {
    s.hasLastCc = 1;
    s.lastCc = curve;
    appendOutput(s, stepFrame, 176 + channel, int32_t(s.curveCc), curve);
  }

  const bool held = s.previousTie == 1 && s.sustainActive == 1;
  const double pitch = s.stepNote[cell] + (s.transposeShifted - 64) + (s.octave - 1) * 12 +
                       (s.keyShift - 128);
  const int q = quantise(s, pitch);

  if (s.stepEnabled[cell] == 0 || s.stepVelocity[cell] == 0 || q < 0) {
    if (held) endHeld(s, stepFrame);
    s.previousTie = 0;
    return;
  }

  double velocity = floorOf(s.velocityScaleMicros * s.stepVelocity[cell] / 1000000 + 0.5);
  velocity = velocity < 1 ? 1 : (velocity > 127 ? 127 : velocity);
  int ratchets = s.stepRatchet[cell];
  ratchets = ratchets < 1 ? 1 : (ratchets > 8 ? 8 : ratchets);
  const int tie = s.stepTie[cell] != 0 ? 1 : 0;
  const int count = tie == 1 ? 1 : ratchets;
  const double gate = s.stepGate[cell];
  const int32_t noteOff = 128 + channel;

  if (count == 1 && held && s.sustainNote == q && s.sustainChannel == channel) {
    // Legato: the sounding note is extended rather than struck again.
    cancelOff(s, noteOff, q);
    double gateLength = floorOf(stepLength * gate * s.gateScaleMicros / 100000000 + 0.5);
    if (gateLength < 1) gateLength = 1;
    const double offFrame = (tie == 1 ? followingFrame : stepFrame) + gateLength;
    queueEvent(s, offFrame, noteOff, q, 0);
    s.sustainOffFrame = offFrame;
    s.previousTie = tie;
    return;
  }

  if (held) endHeld(s, stepFrame);
  for (int j = 0; j < count; ++j) {
    // The step is whole: the first repeat starts on it and the last ends with it.
    const double startOffset = j == 0 ? 0 : floorOf(stepLength * j / count);
    double subLength = (j + 1 == count ? stepLength : floorOf(stepLength * (j + 1) / count)) - startOffset;
    if (subLength < 1) subLength = 1;
    const double onFrame = stepFrame + startOffset;
    queueEvent(s, onFrame, 144 + channel, q, int32_t(velocity));
    double gateLength = floorOf(subLength * gate * s.gateScaleMicros / 100000000 + 0.5);
    if (gateLength < 1) gateLength = 1;
    const double offFrame = (tie == 1 ? followingFrame : onFrame) + gateLength;
    queueEvent(s, offFrame, noteOff, q, 0);
    s.sustainActive = 1;
    s.sustainNote = q;
    s.sustainChannel = channel;
    s.sustainOffFrame = offFrame;
  }
  s.previousTie = tie;
}

// The timing of the step about to play: its length, its swung frame and the
// swung frame of the one after it.
[[gnu::noinline]] const KernelState::StepTiming &recomputeStepTiming(KernelState &s, int32_t r);

inline const KernelState::StepTiming &stepTiming(KernelState &s) {
  const KernelState::StepTiming &t = s.timing;
  const int32_t r = s.patternResolutions[int(s.currentPattern)];
  if (t.nextStepFrame == s.nextStepFrame && t.stepCounter == s.stepCounter &&
      t.sampleRate == s.sampleRate && t.bpmMicros == s.bpmMicros &&
      t.shuffleMicros == s.shuffleMicros && t.resolution == s.resolution && t.patternResolution == r) {
    return t;
  }
  return recomputeStepTiming(s, r);
}

const KernelState::StepTiming &recomputeStepTiming(KernelState &s, int32_t r) {
  KernelState::StepTiming &t = s.timing;
  // Usually only the step moved on: the length stands while rate, tempo and
  // resolution do, and the swing while the length and the shuffle do.
  const bool lengthStands = t.sampleRate == s.sampleRate && t.bpmMicros == s.bpmMicros &&
                            t.resolution == s.resolution && t.patternResolution == r;
  if (!lengthStands) {
    const double samplesPerBeat =
        std::max(1.0, floorOf(s.sampleRate * 60000000 / s.bpmMicros + 0.5));
    const double divisor = stepsPerBeatMicros(r >= 1 && r <= 12 ? r - 1 : s.resolution);
    t.stepLength = std::max(1.0, floorOf(samplesPerBeat * 1000000 / divisor + 0.5));
  }
  const double stepLength = t.stepLength;
  if (!lengthStands || t.shuffleMicros != s.shuffleMicros) t.oddStepDelay = oddStepDelay(s, stepLength);
  t.nextStepFrame = s.nextStepFrame;
  t.stepCounter = s.stepCounter;
  t.sampleRate = s.sampleRate;
  t.bpmMicros = s.bpmMicros;
  t.shuffleMicros = s.shuffleMicros;
  t.resolution = s.resolution;
  t.patternResolution = r;
  // The counter is whole: the next one is odd when this one is even, up to
  // 2^53, where every counter is even.
  const bool odd = isOdd(s.stepCounter);
  const bool nextOdd = !odd && s.stepCounter + 1 < 9007199254740992.0;
  t.stepFrame = s.nextStepFrame + (odd ? t.oddStepDelay : 0);
  t.followingFrame = s.nextStepFrame + stepLength + (nextOdd ? t.oddStepDelay : 0);
  return t;
}

// The timing of the step after the one just played: the loop has moved
// nextStepFrame on by the length and stepCounter by one, nothing else that
// the timing depends on but, through a chain, the pattern's resolution.
// With that unchanged the step starts where the last one's following frame
// was (the same sum: nextStepFrame plus the length, plus the swing when the
// counter turned odd), so only the frame after it is new.
inline const KernelState::StepTiming &steppedTiming(KernelState &s) {
  KernelState::StepTiming &t = s.timing;
  const int32_t r = s.patternResolutions[int(s.currentPattern)];
  if (t.patternResolution != r) [[unlikely]]
    return recomputeStepTiming(s, r);
  t.nextStepFrame = s.nextStepFrame;
  t.stepCounter = s.stepCounter;
  t.stepFrame = t.followingFrame;
  const bool nextOdd = !isOdd(s.stepCounter) && s.stepCounter + 1 < 9007199254740992.0;
  t.followingFrame = s.nextStepFrame + t.stepLength + (nextOdd ? t.oddStepDelay : 0);
  return t;
}

// Inlined where either clock plays the steps and where a start on the
// host's grid carries the walk to its place.
[[gnu::always_inline]] inline void advance(KernelState &s) {
  const int pattern = int(s.currentPattern);
  const int length = patternLength(s, pattern);
  const int n = nextPosition(s, length, effectiveDirection(s, pattern));
  s.walkPosition = n < 0 ? 0 : n;

  double m = s.cycleStep + 1;
  if (m >= length) {
    m = 0;
    if (s.chainOn == 1) {
      double next = s.currentPattern + 1;
      if (next > s.chainEnd || next < s.chainStart) next = s.chainStart;
      s.currentPattern = next;
      const int p = int(next);
      s.walkPosition = effectiveDirection(s, p) == 1 ? patternLength(s, p) - 1 : 0;
      s.walkPhase = 0;
    }
  }
  s.cycleStep = m;
}

// Steps per quarter note of the pattern playing.
double currentStepsPerQuarter(const KernelState &s) {
  const int32_t r = s.patternResolutions[int(s.currentPattern)];
  return stepsPerBeatMicros(r >= 1 && r <= 12 ? r - 1 : s.resolution) / 1000000;
}

// Grid steps are whole and may be negative (a host's count-in); beyond 2^53
// every double is even.
bool gridOdd(double step) {
  return std::fabs(step) < 9007199254740992.0 && (uint64_t(int64_t(step)) & 1u) != 0;
}

// The ceiling, by truncation in the usual range (as floorOf).
double ceilOf(double x) {
  if (x > -4503599627370496.0 && x < 4503599627370496.0) {
    const double t = double(int64_t(x));
    return t < x ? t + 1 : t;
  }
  return std::ceil(x);
}

// The frame at which the host's position reaches `step` (of
// gridStepsPerQuarter per quarter note), extrapolated from the last grid
// event: the first frame at or after it.
[[gnu::always_inline]] inline double gridFrameOf(const KernelState &s, double step) {
  const double offset = (step / s.gridStepsPerQuarter - s.gridPpq) * s.gridSamplesPerQuarter;
  return s.gridFrame + ceilOf(offset - 1e-7);
}

// A change of resolution (a chained pattern's own, the parameter) counts
// the next step anew: the first step of the new size at or after the old one.
void keepGridResolution(KernelState &s) {
  const double perQuarter = currentStepsPerQuarter(s);
  if (perQuarter == s.gridStepsPerQuarter) return;
  s.gridNextStep = std::ceil(s.gridNextStep / s.gridStepsPerQuarter * perQuarter - 1e-9);
  s.gridStepsPerQuarter = perQuarter;
}

struct GridStep {
  double length;    // frames of a step at the host's tempo
  double frame;     // where the next step starts, swing included
  double following; // where the one after it starts
};

// As stepTiming: usually only the step has moved on, by one, and the step
// after it is already known; the length and swing wait for a change of the
// host's tempo, the resolution or the shuffle.
[[gnu::noinline]] GridStep recomputeGridStep(KernelState &s, int32_t r) {
  KernelState::GridTiming &g = s.gridTiming;
  const bool grid = g.gridEpoch == s.gridEpoch && g.resolution == s.resolution && g.patternResolution == r;
  if (!grid || g.shuffleMicros != s.shuffleMicros) {
    keepGridResolution(s);
    g.stepLength = std::max(1.0, floorOf(s.gridSamplesPerQuarter / s.gridStepsPerQuarter + 0.5));
    g.oddStepDelay = oddStepDelay(s, g.stepLength);
  }
  const double n = s.gridNextStep;
  if (grid && g.shuffleMicros == s.shuffleMicros && n == g.nextStep + 1) {
    g.stepFrame = g.followingFrame;
  } else {
    g.stepFrame = gridFrameOf(s, n) + (gridOdd(n) ? g.oddStepDelay : 0);
  }
  g.followingFrame = gridFrameOf(s, n + 1) + (gridOdd(n + 1) ? g.oddStepDelay : 0);
  g.nextStep = n;
  g.gridEpoch = s.gridEpoch;
  g.shuffleMicros = s.shuffleMicros;
  g.resolution = s.resolution;
  g.patternResolution = r;
  return {g.stepLength, g.stepFrame, g.followingFrame};
}

inline GridStep nextGridStep(KernelState &s) {
  const KernelState::GridTiming &g = s.gridTiming;
  const int32_t r = s.patternResolutions[int(s.currentPattern)];
  if (g.nextStep == s.gridNextStep && g.gridEpoch == s.gridEpoch && g.shuffleMicros == s.shuffleMicros &&
      g.resolution == s.resolution && g.patternResolution == r)
    return {g.stepLength, g.stepFrame, g.followingFrame};
  return recomputeGridStep(s, r);
}

// As steppedTiming, on the host's grid: the loop has moved gridNextStep on
// by one; with the pattern's resolution unchanged the step starts where the
// last one's following frame was.
inline GridStep steppedGridStep(KernelState &s) {
  KernelState::GridTiming &g = s.gridTiming;
  const int32_t r = s.patternResolutions[int(s.currentPattern)];
  if (g.patternResolution != r) [[unlikely]]
    return recomputeGridStep(s, r);
  const double n = s.gridNextStep;
  g.nextStep = n;
  g.stepFrame = g.followingFrame;
  // Without swing no step is delayed: the parity is not needed.
  g.followingFrame = gridFrameOf(s, n + 1) + (g.oddStepDelay != 0 && gridOdd(n + 1) ? g.oddStepDelay : 0);
  return {g.stepLength, g.stepFrame, g.followingFrame};
}

// The frame of the next step on the host's grid, out of the own clock's way.
[[gnu::noinline]] double gridStepFrame(KernelState &s) { return nextGridStep(s).frame; }

// The walk of the selected pattern starts on the bar: it is carried over the
// steps between the bar's start and the host's position at `now`, so a play
// from the same place always starts the same way.
void alignOnGrid(KernelState &s, double now) {
  s.previousTie = 0;
  s.hasLastCc = 0;
  s.currentPattern = s.selectedPattern;
  resetWalk(s);
  s.stepCounter = 0;
  const double perQuarter = currentStepsPerQuarter(s);
  s.gridStepsPerQuarter = perQuarter;
  const double ppq = s.gridPpq + (now - s.gridFrame) / s.gridSamplesPerQuarter;
  s.gridNextStep = std::ceil(ppq * perQuarter - 1e-9);
  const double barStep = std::ceil(s.gridBarPpq * perQuarter - 1e-9);
  double carried = s.gridNextStep - barStep;
  carried = carried < 0 ? 0 : std::min(carried, double(kMaxAlignSteps));
  for (int k = 0; k < int(carried); ++k) {
    advance(s);
    s.stepCounter += 1;
  }
  s.hasStarted = 1;
}

// The steps on the host's grid, out of line, so the own clock's loop stays as
// it was.
[[gnu::noinline]] void generateOnGrid(KernelState &s, double limitFrame, bool inclusive) {
  if (s.gridRunning != 1 || s.hasStarted != 1) return;
  // As the own clock's: the next step's timing is left computed.
  GridStep next = nextGridStep(s);
  for (int played = 0; played < kMaxStepsPerCall; ++played) {
    if (inclusive ? !(next.frame <= limitFrame) : !(next.frame < limitFrame)) return;
    playStep(s, next.length, next.frame, next.following);
    if (runtime::poisoned()) return;
    advance(s);
    s.stepCounter += 1;
    s.gridNextStep += 1;
    next = steppedGridStep(s);
  }
}

} // namespace

uint32_t toU32(double x) {
  if (!std::isfinite(x)) return 0;
  double t = std::trunc(x);
  if (t >= 0 && t < 4294967296.0) return uint32_t(t);
  t = std::fmod(t, 4294967296.0);
  if (t < 0) t += 4294967296.0;
  return uint32_t(t);
}

uint32_t multiplyU32(double a, double b) { return toU32(a) * toU32(b); }

uint32_t hashStep(double x) {
  uint32_t s = toU32(x) * 1664525u + 1013904223u;
  s ^= s >> 15;
  s *= 2246822519u;
  s ^= s >> 13;
  s *= 3266489917u;
  s ^= s >> 16;
  return s;
}

void generateBefore(KernelState &s, double limitFrame, bool inclusive) {
  if (s.ownRunning != 1) [[unlikely]]
    return generateOnGrid(s, limitFrame, inclusive);
  if (s.hasStarted != 1) return;
  // Every way out but a fault leaves the timing of the next step computed
  // for the state as it stands (quietHorizon relies on it after a full run).
  const KernelState::StepTiming *t = &stepTiming(s);
  for (int played = 0; played < kMaxStepsPerCall; ++played) {
    if (inclusive ? !(t->stepFrame <= limitFrame) : !(t->stepFrame < limitFrame)) return;
    const double stepLength = t->stepLength;
    playStep(s, stepLength, t->stepFrame, t->followingFrame);
    if (runtime::poisoned()) return;
    advance(s);
    s.nextStepFrame += stepLength;
    s.stepCounter += 1;
    t = &steppedTiming(s);
  }
}

Horizon quietHorizon(KernelState &s, bool timingFresh) {
  constexpr double kNow = -std::numeric_limits<double>::infinity();
  constexpr Horizon kFullPath{kNow, kNow};
  if (!gQuietPathEnabled) return kFullPath;
  if (s.prepared != 1 || s.in.count != 0 || s.out.count != 0 || s.cursorFrame != 0) return kFullPath;
  double step = std::numeric_limits<double>::infinity();
  if (s.ownRunning == 1) {
    // The first call after a start lays the walk out: only the full path does that.
    if (s.hasStarted != 1) return kFullPath;
    step = timingFresh ? s.timing.stepFrame : stepTiming(s).stepFrame;
    if (step != step) return kFullPath;
  } else if (s.gridRunning == 1) [[unlikely]] {
    if (s.hasStarted != 1) return kFullPath;
    step = timingFresh ? s.gridTiming.stepFrame : gridStepFrame(s);
    if (step != step) return kFullPath;
  }
  double bound = step;
  if (s.pending.count > 0) {
    // The queue is kept in frame order: its first entry falls due first.
    const double frame = s.pending.frames[0];
    if (frame != frame) return kFullPath;
    if (frame < bound) bound = frame;
  }
  return {bound, step};
}

void setQuietPathForTesting(bool enabled) { gQuietPathEnabled = enabled; }

bool applyClock(KernelState &s, const ClockEvent &clock) {
  const double now = s.baseFrame + s.cursorFrame;
  switch (clock.kind) {
  case ClockEvent::Kind::own:
    // The walk starts afresh here, as after Run is switched on.
    if (s.clockMode != double(ClockMode::own)) s.hasStarted = 0;
    setClock(s, ClockMode::own);
    return true;
  case ClockEvent::Kind::hostStop:
  case ClockEvent::Kind::halt:
    // Every sounding note ends now; what was scheduled to start never does.
    flushSustain(s, now);
    s.hasStarted = 0;
    s.gridPlaying = 0;
    setClock(s, clock.kind == ClockEvent::Kind::halt ? ClockMode::halt : ClockMode::host);
    return true;
  case ClockEvent::Kind::hostGrid: break;
  default: return false;
  }
  if (!std::isfinite(clock.ppq) || !std::isfinite(clock.barPpq) || !(clock.tempo > 0) ||
      !std::isfinite(clock.tempo) || std::fabs(clock.ppq) > kMaxGridPpq || std::fabs(clock.barPpq) > kMaxGridPpq)
    return false;
  if (s.clockMode != double(ClockMode::host)) s.hasStarted = 0;
  s.gridPlaying = 1;
  setClock(s, ClockMode::host);
  s.gridFrame = now;
  s.gridPpq = clock.ppq;
  s.gridBarPpq = clock.barPpq;
  s.gridSamplesPerQuarter = std::max(1.0, s.sampleRate * 60 / clock.tempo);
  s.gridEpoch += 1;
  if (clock.align) {
    // A start, a locate or a loop: a held note ends where the walk breaks.
    if (s.sustainActive == 1 && s.previousTie == 1) endHeld(s, now);
    s.hasStarted = 0;
  }
  if (s.running == 1 && s.hasStarted != 1) alignOnGrid(s, now);
  return true;
}

bool process(KernelState &s, const BlockRecord &block) {
  if (s.prepared != 1 || block.inputChannels != 0 || block.outputChannels != 0) return false;
  const double t0 = s.baseFrame + block.start;
  const double t1 = t0 + block.length;

  if (s.running == 1 && s.hasStarted == 0) {
    if (s.clockMode == double(ClockMode::own)) {
      resetWalk(s);
      s.stepCounter = 0;
      s.nextStepFrame = t0;
      s.hasStarted = 1;
    } else if (s.clockMode == double(ClockMode::host) && s.gridPlaying == 1) {
      alignOnGrid(s, t0);
    }
  }

  // Steps due at an input message's frame play after the message.
  int handled = 0;
  double last = 0;
  for (; handled < s.in.count; ++handled) {
    const double t = s.in.frames[handled];
    if (!(t < t1)) break;
    const double tt = t > t0 ? t : t0;
    if (handled > 0 && last < tt) generateBefore(s, last, true);
    generateBefore(s, tt, false);
    handleInputEntry(s, handled, tt);
    last = tt;
  }
  if (handled > 0) generateBefore(s, last, true);
  generateBefore(s, t1, false);

  if (handled > 0) {
    const int rest = s.in.count - handled;
    for (int i = 0; i < rest; ++i) {
      s.in.frames[i] = s.in.frames[handled + i];
      s.in.status[i] = s.in.status[handled + i];
      s.in.number[i] = s.in.number[handled + i];
      s.in.level[i] = s.in.level[handled + i];
    }
    s.in.count = rest;
  }

  // Move what falls due in this sub-block from pending to output.
  int kept = 0;
  for (int i = 0; i < s.pending.count; ++i) {
    if (s.pending.frames[i] < t1) {
      appendOutput(s, s.pending.frames[i], s.pending.status[i], s.pending.number[i],
                   s.pending.level[i]);
    } else {
      s.pending.frames[kept] = s.pending.frames[i];
      s.pending.status[kept] = s.pending.status[i];
      s.pending.number[kept] = s.pending.number[i];
      s.pending.level[kept] = s.pending.level[i];
      ++kept;
    }
  }
  s.pending.count = kept;

  s.cursorFrame = double(block.start) + block.length;
  return true;
}

} // namespace norva::kernel
