// The kernel state record of one sequencer instance and the operations on it.
//
// Scalars that take part in timing arithmetic are 64-bit floats, as the
// sequencer computes in doubles with explicit floor and rounding; frames are
// absolute sample positions counted from the last prepare or reset. Queue
// frame columns are doubles too, so a long session never wraps them.
#pragma once

#include <cmath>
#include <cstdint>
#include <iterator>

#include "kernel/kernel_events.h"
#include "kernel/kernel_interface.h"
#include "kernel/kernel_run.h"
#include "params/authored_plane.h"
#include "params/params.h"

namespace norva::kernel {

inline constexpr int kStateVersion = kPlaneVersion;
inline constexpr int kSteps = kPlaneSteps;
inline constexpr int kPatterns = kPlanePatterns;
inline constexpr int kLaneCells = kPlaneCells; // cell = pattern * 32 + step
inline constexpr int kPendingCapacity = 128; // generated messages scheduled ahead
inline constexpr int kMaxStepsPerCall = 128; // steps one generateBefore call may play
inline constexpr int kNotes = 128;
inline constexpr int kInputCapacity = 128;   // incoming messages waiting for their frame
inline constexpr int kOutputCapacity = NORVA_KERNEL_MAX_EVENT_OUTPUTS; // messages due in one call
// The byte form of the authored plane (version 1, params/authored_plane.h):
// the version byte, seven lanes of one byte per cell, then three rows of one
// byte per pattern.
enum AuthoredLane : int {
  kLaneNote = kStepNote,
  kLaneVelocity = kStepVelocity,
  kLaneGate = kStepGate,
  kLaneTie = kStepTie,
  kLaneCurve = kStepCurve,
  kLaneRatchet = kStepRatchet,
  kLaneEnabled = kStepOn,
};
enum AuthoredRow : int { kRowLength = kPatternLength, kRowResolution = kPatternResolution, kRowDirection = kPatternDirection };
inline constexpr int kLaneCount = kStepFieldCount;
inline constexpr int kRowCount = kPatternFieldCount;
inline constexpr int kOffsetLanes = kPlaneOffsetLanes;
inline constexpr int kOffsetRows = kPlaneOffsetRows;
inline constexpr int kStateBytes = kPlaneBytes;
constexpr int laneOffset(int lane) { return planeLaneOffset(lane); }
constexpr int rowOffset(int row) { return planeRowOffset(row); }
inline constexpr int kMaxFrames = NORVA_KERNEL_MAX_FRAMES;

// Steps per beat in millionths, by resolution index (the "tindrel.resolution"
// value), in the order of their names (kResolutionNames): half, quarter,
// eighth, sixteenth, thirty-second and sixty-fourth notes, the quarter to
// thirty-second triplets, dotted eighth and sixteenth.
inline constexpr double kStepsPerBeatMicros[] = {
    500000, 1000000, 2000000, 4000000, 8000000, 16000000,  // 1/2 .. 1/64
    1500000, 3000000, 6000000, 12000000,                    // triplets 1/4 .. 1/32
    1333333, 2666667,                                       // dotted 1/8, 1/16
};
static_assert(std::size(kStepsPerBeatMicros) == std::size(kResolutionNames), "one step length per resolution name");

// floor(x) for every double. The usual case, 0 <= x < 2^52, truncates: a
// couple of instructions where the library's floor takes a dozen on baseline
// x86-64, on a path that rounds several values per step.
inline double floorOf(double x) {
  if (x >= 0 && x < 4503599627370496.0) return double(int64_t(x));
  return std::floor(x);
}

// A time-ordered queue of MIDI-style messages: absolute frame, status byte,
// number (note or controller) and level (velocity or value).
template <int Capacity> struct MessageQueue {
  int count = 0;
  double frames[Capacity] = {};
  int32_t status[Capacity] = {};
  int32_t number[Capacity] = {};
  int32_t level[Capacity] = {};
};

struct KernelState {
  double baseFrame = 0;
  double bpmMicros = 120000000;
  double chainEnd = 7;
  double chainOn = 0;
  double chainStart = 0;
  double channel = 0;
  // Who starts the steps (ClockMode): the kernel's own tempo, the host's grid
  // through clock events, or nobody (bypassed).
  double clockMode = 0;
  // 1 while Run is on and the own clock starts the steps: the one test the
  // own clock's paths make (setClock and the Run parameter keep it).
  double ownRunning = 0;
  // The host's grid (clockMode host): the position in quarter notes at
  // gridFrame, samples per quarter note, the next step to play as a count of
  // steps of gridSteps per quarter note from position 0.
  double gridFrame = 0;
  double gridPpq = 0;
  double gridSamplesPerQuarter = 24000;
  double gridNextStep = 0;
  double gridStepsPerQuarter = 4;
  double gridBarPpq = 0;   // the start of the bar at gridFrame
  double gridPlaying = 0;  // the host's transport rolls
  // 1 while Run is on, the host's grid starts the steps and its transport
  // rolls: the one test the grid's paths make (setClock keeps it, called
  // after every change of running or gridPlaying).
  double gridRunning = 0;
  double gridEpoch = 0;    // counts the changes of gridFrame, gridPpq and gridSamplesPerQuarter
  double currentPattern = 0;
  double cursorFrame = 0;
  double curveBipolar = 0;
  double curveCc = 1;
  double cycleStep = 0;
  double direction = 0;
  double gateScaleMicros = 1000000;
  double hasLastCc = 0;
  double hasStarted = 0;
  double keyFollow = 0;
  double keyRoot = 0;
  double keyShift = 128;
  double lastCc = 0;
  int32_t liveVelocities[kSteps] = {};
  // The last "tindrel.length": a whole plane keeps the selected pattern at it.
  int32_t liveLength = 16;
  double nextStepFrame = 0;
  double octave = 1;
  // Per pitch: incoming note-ons let through and not yet ended. Their
  // note-offs go out whatever key following does meanwhile.
  uint8_t passedNotes[kNotes] = {};
  int32_t patternDirections[kPatterns] = {};
  int32_t patternLengths[kPatterns] = {};
  int32_t patternResolutions[kPatterns] = {};
  double previousTie = 0;
  double prepared = 0;
  double resolution = 3;
  double running = 0;
  double sampleRate = 48000;
  double scaleMask = 4095;
  double seed = 0;
  double selectedPattern = 0;
  double shuffleMicros = 500000;
  double stepCounter = 0;
  int32_t stepCurve[kLaneCells] = {};
  int32_t stepEnabled[kLaneCells] = {};
  int32_t stepGate[kLaneCells] = {};
  int32_t stepNote[kLaneCells] = {};
  int32_t stepRatchet[kLaneCells] = {};
  int32_t stepTie[kLaneCells] = {};
  int32_t stepVelocity[kLaneCells] = {};
  double sustainActive = 0;
  double sustainChannel = 0;
  double sustainNote = 0;
  double sustainOffFrame = 0;
  double transposeShifted = 64;
  double velocityScaleMicros = 1000000;
  double walkPhase = 0;
  double walkPosition = 0;

  MessageQueue<kInputCapacity> in;        // incoming notes and controllers
  MessageQueue<kPendingCapacity> pending; // scheduled generated messages
  MessageQueue<kOutputCapacity> out;      // messages due in the current call

  // Timing of the next step, kept with the inputs it was computed from so
  // that a block without a due step costs a few comparisons. Recomputed
  // whenever any input differs.
  struct StepTiming {
    double nextStepFrame = -1;
    double stepCounter = -1;
    double sampleRate = 0;
    double bpmMicros = 0;
    double shuffleMicros = 0;
    double resolution = -1;
    int32_t patternResolution = -1;
    double stepLength = 0;
    double oddStepDelay = 0; // the swing of an odd-numbered step
    double stepFrame = 0;
    double followingFrame = 0;
  } timing;
  // The same for the next step on the host's grid (clockMode host), kept
  // with what it was computed from (NaN: nothing yet).
  struct GridTiming {
    double nextStep = NAN;
    double gridEpoch = NAN;
    double shuffleMicros = NAN;
    double resolution = NAN;
    int32_t patternResolution = -1;
    double stepLength = 0;
    double oddStepDelay = 0;
    double stepFrame = 0;
    double followingFrame = 0;
  } gridTiming;
};

struct PrepareConfig {
  uint32_t inputChannels = 0;
  uint32_t maxFrames = 0;
  uint32_t outputChannels = 0;
  double sampleRate = 0;
};

// A sub-block of the current host block.
struct BlockRecord {
  uint32_t capacity = kMaxFrames;
  uint32_t length = 0;
  uint32_t start = 0;
  uint32_t inputChannels = 0;
  uint32_t outputChannels = 0;
};

// The output records of one process call.
struct OutputView {
  int capacity = 0;
  int count = 0;
  MidiEvent *events = nullptr;
};

// State and parameters.
KernelState *createState(); // nullptr when memory is exhausted
bool prepare(KernelState &s, const PrepareConfig &config);
bool setParameter(KernelState &s, const char *key, double value);
bool applyParameter(KernelState &s, double id, double value);
int velocityStep(const char *key);
void reset(KernelState &s);
void clearPerformance(KernelState &s);
void resetWalk(KernelState &s);
int patternLength(const KernelState &s, int pattern);
int effectiveDirection(const KernelState &s, int pattern);

// Step generation.
bool process(KernelState &s, const BlockRecord &block);
// When the next calls have something to do, as absolute frames. Before
// `quietUntil` nothing can happen without new input: a call that queues no
// event and ends there changes nothing but the time base. Before `stepAt`
// only scheduled messages fall due: such a call just hands them out
// (emitScheduled). Both are minus infinity when the next call must take the
// full path (an input waits, the walk is about to start); plus infinity when
// nothing is scheduled and the walk is stopped. Valid until the state changes
// other than by time passing.
struct Horizon {
  double quietUntil;
  double stepAt;
};
// `timingFresh`: process() ran last and nothing changed the state since, so
// the next step's timing it left needs no check.
Horizon quietHorizon(KernelState &s, bool timingFresh = false);
// For tests that compare both paths: false sends every call the full way.
void setQuietPathForTesting(bool enabled);
void generateBefore(KernelState &s, double limitFrame, bool inclusive);
uint32_t multiplyU32(double a, double b);
uint32_t hashStep(double x);
// Reduces a finite double to unsigned 32 bits: truncation toward zero, then
// modulo 2^32.
uint32_t toU32(double x);

// Note handling and output.
bool handleEvent(KernelState &s, EventKind kind, int a, double value);
void appendOutput(KernelState &s, double frame, int32_t status, int32_t number, int32_t level);
void queueEvent(KernelState &s, double frame, int32_t status, int32_t number, int32_t level);
void cancelOff(KernelState &s, int32_t status, int32_t note);
void endHeld(KernelState &s, double frame);
void flushSustain(KernelState &s, double frame);
void handleInputEntry(KernelState &s, int index, double frame);
bool emitEvents(KernelState &s, OutputView &view);
// A call that ends at `end`, before the next step, with no input: hands out
// the scheduled messages due before `end` and moves the time base there, as
// the full path would.
void emitScheduled(KernelState &s, double end, OutputView &view);

// The state of a live instance, for tools that measure or inspect the
// kernel in-process; nullptr for an unknown handle. Not exported.
KernelState *instanceState(uint32_t handle);

// Sets who starts the steps, and ownRunning and gridRunning with it.
inline void setClock(KernelState &s, ClockMode mode) {
  s.clockMode = double(mode);
  s.ownRunning = s.running == 1 && mode == ClockMode::own ? 1 : 0;
  s.gridRunning = s.running == 1 && mode == ClockMode::host && s.gridPlaying == 1 ? 1 : 0;
}

// Clock and plane edits, applied at the current frame of a call.
bool applyClock(KernelState &s, const ClockEvent &clock);
bool applyPlaneEdit(KernelState &s, const PlaneEdit &edit);

// Authored pattern plane and its byte form (version 1, 7265 bytes).
void seedAuthoredPlane(KernelState &s);
int saveState(const KernelState &s, uint8_t *buffer, uint32_t capacity);
bool restoreState(KernelState &s, const uint8_t *buffer, uint32_t length);

} // namespace norva::kernel
