// KernelEngine: the kernel's only caller inside the plug-in. It validates the
// host's configuration, owns one kernel instance, queues a block's notes and
// parameter values in frame order, cuts host blocks into kernel calls of at
// most 128 frames, keeps the kernel's parameters in step with its own values,
// and hands out the kernel's MIDI messages as typed records.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>

#include "engine/pattern_rows.h"
#include "engine/rate_adapter.h"
#include "engine/runtime_diagnostics.h"
#include "engine/sounding_notes.h"
#include "kernel/kernel_events.h"
#include "kernel/kernel_interface.h"
#include "kernel/kernel_run.h"
#include "params/params.h"

namespace norva {

// One queued input event. `a` is the parameter index or the note number.
struct KernelEngineEvent {
  int32_t frame = 0;
  EventKind kind = EventKind::parameter;
  uint32_t a = 0;
  double value = 0; // plain parameter value, note-on velocity 0..1, 0 for a note-off
};

// A parameter the engine changed itself, for its owner to report to the host.
struct ParamReport {
  int32_t frame = 0;
  uint32_t id = 0;
  double plain = 0;
};

// What the host's ProcessContext says of its transport, for Follow host.
struct HostTransport {
  bool playing = false;
  bool hasTempo = false;    // tempo is valid
  bool hasPosition = false; // ppq (projectTimeMusic) is valid
  bool hasBar = false;      // barPpq (barPositionMusic) is valid
  bool hasMeter = false;    // numerator and denominator are valid
  double tempo = 0;         // BPM
  double ppq = 0;           // position at the block's first frame, in quarter notes
  double barPpq = 0;        // start of the bar holding it
  int32_t numerator = 4;    // the time signature
  int32_t denominator = 4;
};

// True once the kernel runtime has delivered a trap in this process.
bool kernelTrapped();

class KernelEngine {
public:
  static constexpr int32_t kKernelChunk = NORVA_KERNEL_MAX_FRAMES;
  // Events the kernel takes between two of its calls.
  static constexpr int32_t kKernelQueueCapacity = NORVA_KERNEL_MAX_EVENTS;
  static constexpr int32_t kQueueCapacity = 2048;  // events one host block may queue
  static constexpr int32_t kOutputCapacity = 2048; // MIDI messages one host block may send
  static constexpr int32_t kEditCapacity = 64;     // plane edits one host block may queue
  static constexpr int32_t kClockCapacity = 4;     // clock changes one host block queues, at most 3
  // A host position this far (in quarter notes) from where the last block
  // left it is a locate or a loop; closer, but more than kGridDriftQuarters,
  // a drift the grid is corrected by. Less is the host's rounding (Ardour
  // gives positions in 1920ths of a quarter note): the grid keeps its own
  // count, so the steps stay sample-exact.
  static constexpr double kGridJumpQuarters = 1.0 / 16;
  static constexpr double kGridDriftQuarters = 1.0 / 1000;

  KernelEngine();
  ~KernelEngine();
  KernelEngine(const KernelEngine &) = delete;
  KernelEngine &operator=(const KernelEngine &) = delete;

  // Main thread. Replaces the kernel instance; false when not ready. Notes
  // the old instance left sounding end in the next block.
  bool setup(double sampleRate, int32_t maxBlockFrames);

  // Audio thread: the block's events, then the block. False when the queue
  // is full or the parameter index unknown.
  bool pushParamNormalized(uint32_t index, double normalized, int32_t frame);
  bool pushNoteOn(int32_t note, double velocity, int32_t frame);
  bool pushNoteOff(int32_t note, int32_t frame);
  // An edit of the authored plane at `frame`; a whole plane's bytes stay
  // with the caller until processBlock has returned.
  bool pushEdit(const kernel::PlaneEdit &edit, int32_t frame);
  // Follow host and Bypass. While clockWatched() (one of them is on, or the
  // kernel's clock is still to be set back), the owner gives every block
  // with frames the kernel's clock before processBlock: steadyClock for the
  // usual block while following (the host rolling on at the tempo last sent,
  // its position where the last block left it, give or take its rounding,
  // and as many frames as the last block), else the host's transport
  // (hostTransport(), it stands until set again) and updateClock.
  // kClockIdle: following, and the kernel has nothing to do until new input
  // (Run off, nothing scheduled): its clock is not needed, so a block the
  // owner finds without input (no notes or changes queued, no plane edits,
  // no parameters to republish) skips the transport check. The frames go
  // on being counted as the frames the kernel is spared; wakeClock, before
  // the first block with input, adds them to the grid's count, and that
  // block checks the transport as usual (a locate, loop, stop or tempo
  // change meanwhile is taken there, before the kernel runs again).
  static constexpr uint8_t kClockFree = 0, kClockWatched = 1, kClockIdle = 2;
  uint8_t clockWatch() const { return clockWatched_.load(std::memory_order_relaxed); }
  bool clockWatched() const { return clockWatch() != kClockFree; }
  bool inputQueued() const { return queueCount_ != 0; }
  bool paramsPending() const { return paramsDirty_.load(std::memory_order_relaxed); }
  void wakeClock() {
    if (!clockIdle_) return;
    clockIdle_ = false;
    expectedPpq_ += double(owedFrames_ - idleOwed_) * sentQuartersPerFrame_;
    uint8_t idle = kClockIdle;
    clockWatched_.compare_exchange_strong(idle, kClockWatched);
  }
  // One comparison each for the block's size (which also tells whether the
  // clock may be settled here at all), the transport's state, the tempo and
  // the position; a block of another size takes updateClock, which comes to
  // the same decision and takes that size as the usual one.
  bool steadyClock(bool rolling, double tempo, double ppq, int32_t frames) {
    if (frames != steadyFrames_.load(std::memory_order_relaxed) || !rolling || tempo != sentTempo_) return false;
    if (!(std::fabs(ppq - expectedPpq_) <= kGridDriftQuarters)) return false;
    expectedPpq_ += steadyQuarters_;
    return true;
  }
  void setHostTransport(const HostTransport &transport) { transport_ = transport; }
  HostTransport &hostTransport() { return transport_; }
  [[gnu::noinline]] void updateClock(int32_t frames);
  // Bypass is on (the block's changes of it included).
  bool bypassed() const { return values_[kParamBypass].load(std::memory_order_relaxed) >= 0.5; }
  // The clock the kernel was last given.
  kernel::ClockMode clockMode() const { return kernelMode_; }
  void processBlock(int32_t frames);

  // The block's MIDI output, valid until the next processBlock.
  std::span<const MidiEvent> output() const { return {output_, size_t(outputCount_)}; }

  // Pattern selection. The step-velocity parameters and Length are the
  // selected pattern's: a change of Pattern from the block's queue selects
  // the pattern with its authored velocities and length (a step parameter
  // queued at the same frame applies after it, to the new pattern). The
  // parameters that change with it (Pattern first) are reported at the
  // frame of the change, the last one of a block per parameter; the row
  // the parameters left in the pattern before is posted to leftRows().
  // Reports are valid until the next block with queued events.
  std::span<const ParamReport> reports() const { return {reports_, size_t(reportCount_)}; }
  PatternRows &leftRows() { return leftRows_; }

  // Main thread: parameter values (plain) and the variation kept for state.
  void setParamValue(uint32_t index, double plain);
  double paramValue(uint32_t index) const;
  void setVariation(int32_t variation);
  int32_t variation() const { return variation_; }

  // Diagnostics.
  void recordDiagnostic(uint32_t code, uint8_t severity, uint8_t phase, const char *message,
                        const char *detail);
  void recordRealtimeDiagnostic(uint32_t code, uint8_t severity, uint8_t phase) noexcept;
  void drainRuntimeDiagnostics();
  bool realtimeDiagnosticsPending() const { return realtime_.hasPending(); }
  const norva_runtime_diagnostic_ring &diagnostics() const { return ring_; }

  // Configuration as set up.
  bool ready() const { return ready_; }
  const RateAdapter &rate() const { return rate_; }
  double sampleRate() const { return rate_.sampleRate(); }
  int32_t maxBlockFrames() const { return rate_.maxBlockFrames(); }
  uint32_t kernelHandle() const { return handle_; }
  double kernelRate() const { return kernelRate_; }

private:
  bool queueEvent(const KernelEngineEvent &event);
  void sortQueue();
  // processBlock's blocks but the most usual: refused, flushed, traced,
  // with input queued or old notes to end.
  [[gnu::noinline]] void processBlockInFull(int32_t frames);
  // plainFrames_ from what it depends on.
  void refreshPlainFrames();
  bool offerParameter(uint32_t index, int32_t frame, double plain, const char *source, bool fresh);
  void publishDirtyParameters(const bool *excluded);
  void refuseBlock(uint8_t severity);
  // The block's chunks: events delivered at their frames, a chunk cut short
  // where the kernel's queue would overflow, quiet chunks left unrun.
  void runChunks(int32_t frames);
  // A block with nothing queued or to republish: only the chunks in which
  // something falls due are run.
  void runUnqueued(int32_t frames);
  // A block of that kind with nothing due is not run at all.
  void runUnqueuedBlock(int32_t frames);
  // The events of [off, end) that fit the kernel's queue; returns the end of
  // the chunk, earlier than `end` when the queue filled up.
  int32_t deliverChunkInputs(int32_t frames, int32_t off, int32_t end, const bool *frameZero);
  void runChunk(int32_t off, int32_t chunk);
  void settleChunk(int status);
  void placeOutput(const MidiEvent *events, uint32_t count, int32_t off, int32_t chunk);
  void releaseSoundingNotes();
  void destroyKernel();
  // The queue emptied without running it (a refused block, a flush).
  void dropQueue();
  // Engine parameters (Follow host, Bypass) and the host's transport: the
  // kernel's clock for this block, set at its first frame.
  void followGrid(const HostTransport &transport, int32_t frames);
  void queueClock(const kernel::ClockEvent &clock);
  // After a block whose kernel calls left it with nothing to do: kClockIdle
  // while following a rolling host.
  [[gnu::noinline, gnu::cold]] void idleClock();
  void pushLaterKind(const KernelEngineEvent &event, uint32_t relative);
  bool selectPattern(double plain, int32_t frame, uint32_t relative);
  [[gnu::noinline]] void finishSelection();
  void report(uint32_t id, int32_t frame, double plain);
  void emptyQueue() {
    queueCount_ = 0;
    editCount_ = 0;
    clockCount_ = 0;
  }

  // Configuration.
  RateAdapter rate_;
  bool ready_ = false;
  uint32_t handle_ = 0;
  // The largest block processBlock may take on its shortest path: the
  // maximum block size while the instance is ready and neither traced nor
  // owing the end of an old instance's notes, else 0.
  int32_t plainFrames_ = 0;
  double kernelRate_ = 0;
  FILE *trace_ = nullptr; // the process-wide trace file, looked up at setup

  // Events and parameters.
  KernelEngineEvent queue_[kQueueCapacity];
  int32_t queueCount_ = 0;
  int32_t next_ = 0; // the first queued event not yet delivered, while a block runs
  // Written by the host's UI thread (state) and the audio thread (automation):
  // atomics, published to the audio thread by paramsDirty_.
  std::atomic<double> values_[kParamCount];
  double shadow_[kParamCount];
  // Set for a value the kernel dropped at process time and that is being
  // offered again; its repeated rejection is not reported again.
  bool retrying_[kParamCount] = {};
  // Parameters pushed since the last kernel call, to re-offer those the
  // kernel may have dropped; at most one kernel queue's worth.
  uint8_t pushed_[kKernelQueueCapacity] = {};
  int32_t pushedCount_ = 0;
  // Events pushed into the kernel for its next call (pushes happen only while
  // a chunk's inputs are delivered, right before that call).
  int32_t kernelQueued_ = 0;
  bool pushedFresh_ = false;
  // Frames from the kernel's clock on in which it has nothing to do, and
  // frames it was spared and catches up with at its next run.
  double quietRoom_ = 0;
  uint64_t owedFrames_ = 0;
  uint32_t retryCursor_ = 0;
  std::atomic<bool> paramsDirty_{true};
  int32_t variation_ = 0;

  // Plane edits and clock changes of the block (the queue holds their index).
  kernel::PlaneEdit edits_[kEditCapacity];
  int32_t editCount_ = 0;
  kernel::ClockEvent clocks_[kClockCapacity];
  int32_t clockCount_ = 0;
  // The clock.
  std::atomic<uint8_t> clockWatched_{kClockFree};
  bool clockIdle_ = false; // kClockIdle was entered: idleOwed_ holds owedFrames_ then
  uint64_t idleOwed_ = 0;
  HostTransport transport_;
  static constexpr kernel::ClockMode kClockUnknown = kernel::ClockMode(0xff); // after a refused block
  kernel::ClockMode kernelMode_ = kernel::ClockMode::own;
  // The block size steadyClock may settle inline, kNotSteady while it may not.
  static constexpr int32_t kNotSteady = -1;
  std::atomic<int32_t> steadyFrames_{kNotSteady};
  bool gridRolling_ = false;    // the host's transport rolled in the last block
  bool fallbackReported_ = false;
  double sentTempo_ = 0;             // the tempo of the last grid event
  double sentQuartersPerFrame_ = 0;
  double expectedPpq_ = 0;           // where the host's next block should start
  double steadyQuarters_ = 0;        // quarter notes in steadyFrames_ at sentTempo_

  // Pattern selection: the one waiting for its kernel call, the reports.
  struct Selection {
    bool pending = false;
    int32_t frame = 0;
    int left = -1; // the pattern selected before, -1 when unknown
  };
  Selection selection_;
  double flushedSelection_ = -1; // a Pattern a flush set, selected at the next block's start
  static constexpr int32_t kReportCapacity = 2 + kStepVelocityParamCount; // Pattern, Length, velocities
  ParamReport reports_[kReportCapacity];
  int32_t reportCount_ = 0;
  PatternRows leftRows_;

  // Output.
  MidiEvent output_[kOutputCapacity];
  int32_t outputCount_ = 0;
  SoundingNotes sounding_;
  bool releasePending_ = false; // a new kernel instance: end what the old one left sounding

  // Diagnostics.
  norva_runtime_diagnostic_ring ring_;
  RealtimeDiagnosticQueue realtime_;
};

} // namespace norva
