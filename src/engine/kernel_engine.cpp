#include "engine/kernel_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

#include "kernel/kernel_run.h"

#define KERNEL(op) lmpr_music_norva_tindrel_bf9421541c27_##op

namespace norva {
namespace {

// Process-wide state shared by every engine: the kernel runtime is set up
// once, the trace file is opened once, a trap is remembered for good.
std::once_flag gRuntimeOnce;
std::atomic<bool> gKernelTrapped{false};
std::atomic<unsigned long long> gTraceBlocks{0};

void kernelPanicSink(void *, const char *record, size_t length, const void *) {
  gKernelTrapped.store(true);
  std::fprintf(stderr, "norva-plugin-shell: lumac trap: %.*s\n", int(length), record);
}

void initialiseKernelRuntime() {
  std::call_once(gRuntimeOnce, [] {
    KERNEL(set_panic_sink)(kernelPanicSink, nullptr);
    KERNEL(runtime_init)();
  });
}

FILE *openTraceFile() {
  const char *path = std::getenv("NORVA_KERNEL_TRACE");
  return path != nullptr && *path != '\0' ? std::fopen(path, "a") : nullptr;
}

// Opened on first use, once per process.
FILE *traceFile() {
  static FILE *const file = openTraceFile();
  return file;
}

// The kind as the trace prints it: 2 note on, 3 note off, 0 otherwise.
int tracedKind(EventKind kind) {
  return kind == EventKind::noteOn || kind == EventKind::noteOff ? int(kind) : 0;
}

// The start of the bar holding the host's position: the host's own when it
// holds the position, else bars of the time signature (of 4/4 without one)
// counted from position 0. Ardour 7 reports the bar's number times four.
double barStart(const HostTransport &t) {
  const bool meter = t.hasMeter && t.numerator > 0 && t.numerator <= 64 && t.denominator > 0 && t.denominator <= 64;
  const double bar = meter ? 4.0 * t.numerator / t.denominator : 4.0;
  constexpr double kSlack = 1e-9;
  if (t.hasBar && std::isfinite(t.barPpq) && t.barPpq <= t.ppq + kSlack && t.ppq - t.barPpq < bar - kSlack)
    return t.barPpq;
  return std::floor(t.ppq / bar + kSlack) * bar;
}

} // namespace

bool kernelTrapped() { return gKernelTrapped.load(); }

KernelEngine::KernelEngine() {
  for (uint32_t i = 0; i < kParamCount; ++i) {
    values_[i].store(NORVA_PARAMS[i].defaultPlain, std::memory_order_relaxed);
    shadow_[i] = NORVA_PARAMS[i].defaultPlain;
  }
}

KernelEngine::~KernelEngine() { destroyKernel(); }

void KernelEngine::destroyKernel() {
  if (handle_ == 0) return;
  KERNEL(destroy)(handle_);
  handle_ = 0;
  plainFrames_ = 0;
  // The instance's scheduled note-offs went with it.
  if (!sounding_.empty()) releasePending_ = true;
}

bool KernelEngine::setup(double sampleRate, int32_t maxBlockFrames) {
  ready_ = false;
  plainFrames_ = 0;
  switch (rate_.configure(sampleRate, maxBlockFrames)) {
  case RateAdapter::Outcome::accepted: break;
  case RateAdapter::Outcome::invalidFormat:
    recordDiagnostic(kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure,
                     "host processing configuration is invalid", nullptr);
    std::fprintf(stderr, "norva-plugin-shell: rejected host format (sampleRate=%.9g, maxBlockFrames=%d)\n",
                 sampleRate, maxBlockFrames);
    if (maxBlockFrames > RateAdapter::kMaxBlockCeiling) {
      std::fprintf(stderr,
                   "norva-plugin-shell: maxBlockFrames exceeds the %d-frame ceiling; render long "
                   "fixtures as a LOOP of <=%d-frame blocks rather than declaring the whole "
                   "fixture as one block\n",
                   RateAdapter::kMaxBlockCeiling, RateAdapter::kMaxBlockCeiling);
    }
    return false;
  case RateAdapter::Outcome::fifoTooLarge:
    recordDiagnostic(kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure,
                     "host rate requires unsupported SRC FIFO capacity", nullptr);
    return false;
  }

  emptyQueue();
  outputCount_ = 0;
  pushedCount_ = 0;
  kernelQueued_ = 0;
  pushedFresh_ = false;
  quietRoom_ = 0;
  owedFrames_ = 0;
  paramsDirty_.store(true);

  initialiseKernelRuntime();
  destroyKernel();
  const double rate = rate_.sampleRate();
  double created = KERNEL(create)(rate, uint32_t(kKernelChunk), 0, 0);
  kernelRate_ = rate;
  if (created == 0) {
    created = KERNEL(create)(RateAdapter::kReferenceRate, uint32_t(kKernelChunk), 0, 0);
    kernelRate_ = RateAdapter::kReferenceRate;
    rate_.setConverted(created != 0);
  }
  // Handles beyond 32 bits are not handed out by the kernel.
  handle_ = created > 0 && created <= 4294967295.0 ? uint32_t(created) : 0;

  trace_ = traceFile();
  if (trace_ != nullptr) {
    std::fprintf(trace_, "S this=%p rate=%.17g kernelRate=%.17g handle=%u\n", static_cast<void *>(this),
                 rate, kernelRate_, handle_);
    std::fflush(trace_);
  }

  if (handle_ == 0) {
    recordDiagnostic(kDiagKernelCreateFailed, kSeverityFatal, kPhaseConfigure,
                     "product kernel instance creation failed", nullptr);
    recordDiagnostic(kDiagEngineUnavailable, kSeverityFatal, kPhaseConfigure,
                     "kernel runtime is unavailable after setup", nullptr);
    std::fprintf(stderr, "norva-plugin-shell: kernel setup failed at %.9g Hz\n", rate);
    return false;
  }

  for (uint32_t i = 0; i < kParamCount; ++i) {
    shadow_[i] = NORVA_PARAMS[i].defaultPlain;
    retrying_[i] = false;
  }
  selection_ = Selection();
  flushedSelection_ = -1;
  reportCount_ = 0;
  // A new kernel runs on its own clock: the next block sets it again.
  kernelMode_ = kernel::ClockMode::own;
  gridRolling_ = false;
  steadyFrames_.store(kNotSteady, std::memory_order_relaxed);
  clockWatched_.store(kClockWatched, std::memory_order_relaxed);
  clockIdle_ = false;
  ready_ = true;
  refreshPlainFrames();
  return true;
}

bool KernelEngine::queueEvent(const KernelEngineEvent &event) {
  if (queueCount_ >= kQueueCapacity) return false;
  queue_[queueCount_++] = event;
  return true;
}

bool KernelEngine::pushParamNormalized(uint32_t index, double normalized, int32_t frame) {
  if (index >= kParamCount) return false;
  if (index >= kKernelParamCount) {
    // The engine's own parameters hold for the whole block.
    setParamValue(index, paramToPlain(NORVA_PARAMS[index], normalized));
    return true;
  }
  return queueEvent({frame, EventKind::parameter, index, paramToPlain(NORVA_PARAMS[index], normalized)});
}

bool KernelEngine::pushNoteOn(int32_t note, double velocity, int32_t frame) {
  return queueEvent({frame, EventKind::noteOn, uint32_t(note), velocity});
}

bool KernelEngine::pushNoteOff(int32_t note, int32_t frame) {
  return queueEvent({frame, EventKind::noteOff, uint32_t(note), 0.0});
}

bool KernelEngine::pushEdit(const kernel::PlaneEdit &edit, int32_t frame) {
  if (editCount_ >= kEditCapacity) return false;
  if (!queueEvent({frame, EventKind::planeEdit, uint32_t(editCount_), 0.0})) return false;
  edits_[editCount_++] = edit;
  return true;
}

void KernelEngine::setParamValue(uint32_t index, double plain) {
  if (index >= kParamCount) return;
  values_[index].store(plain, std::memory_order_relaxed);
  if (index >= kKernelParamCount) {
    steadyFrames_.store(kNotSteady, std::memory_order_relaxed);
    clockWatched_.store(kClockWatched, std::memory_order_relaxed);
    return;
  }
  paramsDirty_.store(true, std::memory_order_release);
}

double KernelEngine::paramValue(uint32_t index) const {
  return index < kParamCount ? values_[index].load(std::memory_order_relaxed) : 0.0;
}

void KernelEngine::setVariation(int32_t variation) { variation_ = std::clamp(variation, 0, 19); }

bool KernelEngine::offerParameter(uint32_t index, int32_t frame, double plain, const char *source,
                                  bool fresh) {
  if (index >= kKernelParamCount || handle_ == 0) return false;
  const double status =
      KERNEL(push_event)(handle_, NORVA_KERNEL_EVENT_PARAMETER, uint32_t(frame), index, plain);
  if (trace_ != nullptr) {
    std::fprintf(trace_, "E this=%p blk=%llu frame=%u kind=%d a=%u value=%.17g src=%s status=%g\n",
                 static_cast<void *>(this), gTraceBlocks.load(std::memory_order_relaxed), uint32_t(frame), NORVA_KERNEL_EVENT_PARAMETER,
                 index, plain, source, status);
  }
  if (status != 0) {
    paramsDirty_.store(true);
    return false;
  }
  ++kernelQueued_;
  shadow_[index] = plain;
  if (pushedCount_ < kKernelQueueCapacity) pushed_[pushedCount_++] = uint8_t(index);
  if (fresh) pushedFresh_ = true;
  return true;
}

void KernelEngine::publishDirtyParameters(const bool *excluded) {
  if (!paramsDirty_.exchange(false)) return;
  // Values the kernel dropped are offered one per kernel call, in turn, so
  // that a value it keeps refusing is singled out and cannot hold the others
  // back.
  int32_t retry = -1;
  bool moreRetries = false;
  for (uint32_t n = 0; n < kKernelParamCount; ++n) {
    const uint32_t i = (retryCursor_ + n) % kKernelParamCount;
    const double value = values_[i].load(std::memory_order_relaxed);
    if (value == shadow_[i]) continue;
    if (excluded[i]) {
      // This block delivers it from its queue; should the kernel drop that,
      // it is offered again from the next block on.
      moreRetries = true;
      continue;
    }
    if (retrying_[i]) {
      if (retry < 0) {
        retry = int32_t(i);
      } else {
        moreRetries = true;
      }
      continue;
    }
    offerParameter(i, 0, value, "republish", true);
  }
  if (retry >= 0) {
    retryCursor_ = uint32_t(retry + 1) % kKernelParamCount;
    offerParameter(uint32_t(retry), 0, values_[retry].load(std::memory_order_relaxed), "republish", false);
  }
  if (moreRetries) paramsDirty_.store(true);
}

void KernelEngine::refuseBlock(uint8_t severity) {
  dropQueue();
  recordRealtimeDiagnostic(kDiagProcessFailed, severity, kPhaseProcess);
}

void KernelEngine::sortQueue() {
  // Stable insertion sort by frame, a change of Pattern first in its frame:
  // the rest of a frame keeps its push order.
  const auto rank = [](const KernelEngineEvent &e) {
    return 2 * int64_t(e.frame) + (e.kind == EventKind::parameter && e.a == kParamPattern ? 0 : 1);
  };
  for (int32_t i = 1; i < queueCount_; ++i) {
    const KernelEngineEvent event = queue_[i];
    const int64_t key = rank(event);
    int32_t j = i;
    while (j > 0 && rank(queue_[j - 1]) > key) {
      queue_[j] = queue_[j - 1];
      --j;
    }
    queue_[j] = event;
  }
}

inline void KernelEngine::runUnqueuedBlock(int32_t frames) {
  // Usually nothing is due: the kernel is not called; it moves its clock on
  // at its next run.
  if (double(frames) <= quietRoom_) {
    quietRoom_ -= frames;
    owedFrames_ += uint64_t(frames);
    return;
  }
  runUnqueued(frames);
}

void KernelEngine::processBlock(int32_t frames) {
  outputCount_ = 0;
  // Most blocks: a block the instance takes whole, nothing queued, nothing
  // to republish.
  if (frames > 0 && frames <= plainFrames_ && queueCount_ == 0 &&
      !paramsDirty_.load(std::memory_order_acquire)) [[likely]] {
    runUnqueuedBlock(frames);
    return;
  }
  processBlockInFull(frames);
}

void KernelEngine::processBlockInFull(int32_t frames) {
  if (!ready_) {
    refuseBlock(kSeverityFatal);
    return;
  }
  if (frames <= 0) {
    // A parameter flush: values land now, the kernel hears them next block.
    sortQueue();
    for (int32_t i = 0; i < queueCount_; ++i) {
      if (queue_[i].kind != EventKind::parameter) continue;
      values_[queue_[i].a].store(queue_[i].value, std::memory_order_relaxed);
      // Heard as a selection, not as the plain parameter.
      if (queue_[i].a == kParamPattern) flushedSelection_ = queue_[i].value;
    }
    paramsDirty_.store(true);
    dropQueue();
    return;
  }
  if (frames > rate_.maxBlockFrames() || handle_ == 0) {
    refuseBlock(kSeverityError);
    return;
  }
  if (releasePending_) [[unlikely]]
    releaseSoundingNotes();
  if (queueCount_ == 0 && trace_ == nullptr &&
      !paramsDirty_.load(std::memory_order_acquire)) {
    runUnqueuedBlock(frames);
    return;
  }
  runChunks(frames);
  if (quietRoom_ == std::numeric_limits<double>::infinity()) [[unlikely]]
    idleClock();
}

void KernelEngine::refreshPlainFrames() {
  plainFrames_ = ready_ && handle_ != 0 && trace_ == nullptr && !releasePending_ ? rate_.maxBlockFrames() : 0;
}

void KernelEngine::idleClock() {
  if (clockIdle_ || trace_ != nullptr || steadyFrames_.load() == kNotSteady || paramsDirty_.load()) return;
  uint8_t watched = kClockWatched;
  if (!clockWatched_.compare_exchange_strong(watched, kClockIdle)) return;
  // An engine parameter set meanwhile (it clears steadyFrames_ before it
  // stores kClockWatched): the next block checks the clock in full.
  if (steadyFrames_.load() == kNotSteady) {
    uint8_t idle = kClockIdle;
    clockWatched_.compare_exchange_strong(idle, kClockWatched);
    return;
  }
  clockIdle_ = true;
  idleOwed_ = owedFrames_;
}

__attribute__((noinline)) void KernelEngine::runUnqueued(int32_t frames) {
  for (int32_t off = 0; off < frames;) {
    const int32_t rest = frames - off;
    if (double(rest) <= quietRoom_) {
      quietRoom_ -= rest;
      owedFrames_ += uint64_t(rest);
      return;
    }
    // Whole chunks before the next thing due are left unrun (runChunk sets
    // the room afresh). The room is below `rest` here and never negative: a
    // mask rounds it down to whole chunks.
    static_assert((kKernelChunk & (kKernelChunk - 1)) == 0);
    const int32_t quiet = int32_t(quietRoom_) & ~(kKernelChunk - 1);
    owedFrames_ += uint64_t(quiet);
    off += quiet;
    const int32_t chunk = std::min(frames - off, kKernelChunk);
    runChunk(off, chunk);
    off += chunk;
  }
}

__attribute__((noinline)) void KernelEngine::runChunks(int32_t frames) {
  // The parameters this block's queue sets at frame 0: the republish leaves
  // them to the queue.
  static constexpr bool kNoFrameZero[kParamCount] = {};
  bool queuedAtZero[kParamCount];
  const bool *frameZero = kNoFrameZero;
  next_ = 0;
  if (queueCount_ > 0) {
    sortQueue();
    reportCount_ = 0;
    std::fill(std::begin(queuedAtZero), std::end(queuedAtZero), false);
    while (next_ < queueCount_ && queue_[next_].frame < 0) ++next_; // never delivered
    for (int32_t i = next_; i < queueCount_ && queue_[i].frame == 0; ++i) {
      if (queue_[i].kind == EventKind::parameter) queuedAtZero[queue_[i].a] = true;
    }
    frameZero = queuedAtZero;
  }

  for (int32_t off = 0; off < frames;) {
    int32_t end = std::min(frames, off + kKernelChunk);
    if (trace_ != nullptr || (next_ < queueCount_ && queue_[next_].frame < end) ||
        paramsDirty_.load(std::memory_order_acquire)) {
      end = deliverChunkInputs(frames, off, end, frameZero);
    } else if (double(end - off) <= quietRoom_) {
      // Nothing to deliver and nothing due: this chunk and those after it
      // that are as quiet are left unrun, up to the chunk of the next queued
      // event.
      int32_t limit = frames;
      if (next_ < queueCount_ && queue_[next_].frame < frames)
        limit = off + (queue_[next_].frame - off) / kKernelChunk * kKernelChunk;
      int32_t quietEnd = limit;
      if (double(limit - off) > quietRoom_) quietEnd = off + int32_t(quietRoom_) / kKernelChunk * kKernelChunk;
      quietEnd = std::max(quietEnd, end);
      quietRoom_ -= quietEnd - off;
      owedFrames_ += uint64_t(quietEnd - off);
      off = quietEnd;
      continue;
    }
    runChunk(off, end - off);
    off = end;
  }
  emptyQueue();
}

int32_t KernelEngine::deliverChunkInputs(int32_t frames, int32_t off, int32_t end,
                                         const bool *frameZero) {
  if (trace_ != nullptr) {
    if (off == 0) gTraceBlocks.fetch_add(1, std::memory_order_relaxed);
    std::fprintf(trace_, "B this=%p blk=%llu off=%d chunk=%d frames=%d events=%d\n",
                 static_cast<void *>(this), gTraceBlocks.load(std::memory_order_relaxed), off, end - off, frames, queueCount_);
  }
  if (paramsDirty_.load(std::memory_order_acquire)) {
    if (flushedSelection_ >= 0) [[unlikely]] {
      if (!frameZero[kParamPattern] && flushedSelection_ != shadow_[kParamPattern] &&
          selectPattern(flushedSelection_, off, 0))
        end = off + 1;
      flushedSelection_ = -1;
    }
    publishDirtyParameters(frameZero);
  }

  int32_t delivered = off; // the frame of the last event delivered
  for (; next_ < queueCount_ && queue_[next_].frame < end; ++next_) {
    const KernelEngineEvent &event = queue_[next_];
    if (kernelQueued_ >= kKernelQueueCapacity) {
      // The kernel's queue is full: this chunk ends where the event stands,
      // and the next kernel call takes the rest in order. Events of a frame
      // already delivered to follow one frame later.
      end = std::max(event.frame, delivered + 1);
      break;
    }
    delivered = std::max(event.frame, off);
    const uint32_t relative = uint32_t(std::max(event.frame - off, 0));
    if (event.kind == EventKind::parameter) {
      values_[event.a].store(event.value, std::memory_order_relaxed);
      if (event.a == kParamPattern && event.value != shadow_[kParamPattern]) [[unlikely]] {
        // Another pattern. The rest of this frame's events follow the
        // selection in this call; the call ends there, so that what it
        // changed is known before anything later is delivered. (The same
        // pattern again, as automation sends it, is the plain parameter.)
        if (selectPattern(event.value, delivered, relative)) end = delivered + 1;
        continue;
      }
      offerParameter(event.a, int32_t(relative), event.value, "queue", true);
      continue;
    }
    if (event.kind == EventKind::planeEdit || event.kind == EventKind::clock) {
      pushLaterKind(event, relative);
      continue;
    }
    const double status = KERNEL(push_event)(handle_, uint32_t(event.kind), relative, event.a, event.value);
    if (trace_ != nullptr) {
      std::fprintf(trace_, "E this=%p blk=%llu frame=%u kind=%d a=%u value=%.17g src=queue status=%g\n",
                   static_cast<void *>(this), gTraceBlocks.load(std::memory_order_relaxed), relative, tracedKind(event.kind), event.a,
                   event.value, status);
    }
    if (status == 0) {
      ++kernelQueued_;
    } else {
      recordRealtimeDiagnostic(kDiagEventRejected, kSeverityError, kPhaseProcess);
    }
  }
  if (trace_ != nullptr) std::fflush(trace_);
  return end;
}

void KernelEngine::pushLaterKind(const KernelEngineEvent &event, uint32_t relative) {
  const int status = event.kind == EventKind::planeEdit ? kernel::pushEdit(handle_, relative, edits_[event.a])
                                                        : kernel::pushClock(handle_, relative, clocks_[event.a]);
  if (status == 0) {
    ++kernelQueued_;
  } else {
    recordRealtimeDiagnostic(kDiagEventRejected, kSeverityError, kPhaseProcess);
  }
}

bool KernelEngine::selectPattern(double plain, int32_t frame, uint32_t relative) {
  kernel::PlaneEdit edit;
  edit.kind = kernel::PlaneEdit::Kind::select;
  edit.pattern = uint8_t(std::clamp(plain, 0.0, double(kPlanePatterns - 1)));
  const double before = shadow_[kParamPattern];
  const int status = kernel::pushEdit(handle_, relative, edit);
  if (trace_ != nullptr) {
    std::fprintf(trace_, "E this=%p blk=%llu frame=%u kind=select a=%u status=%d\n", static_cast<void *>(this),
                 gTraceBlocks.load(std::memory_order_relaxed), relative, unsigned(edit.pattern), status);
  }
  if (status != 0) {
    recordRealtimeDiagnostic(kDiagEventRejected, kSeverityError, kPhaseProcess);
    return false;
  }
  ++kernelQueued_;
  shadow_[kParamPattern] = plain;
  // Counted as a parameter pushed, so that the call is settled (and a failed
  // one offers the value again, as the plain parameter).
  if (pushedCount_ < kKernelQueueCapacity) pushed_[pushedCount_++] = uint8_t(kParamPattern);
  pushedFresh_ = true;
  selection_.pending = true;
  selection_.frame = frame;
  selection_.left = before >= 0 && before < kPlanePatterns ? int(before) : -1;
  return true;
}

void KernelEngine::finishSelection() {
  selection_.pending = false;
  const int selected = kernel::selectedPattern(handle_);
  double velocities[kPlaneSteps];
  double length = 0;
  if (!kernel::patternRow(handle_, selected, velocities, length)) return;
  // The parameters take the selected pattern's row; those that change are
  // reported. A step parameter the queue set after the selection in this
  // call is in the row already and does not count as a change.
  const int32_t frame = selection_.frame;
  report(kParamPattern, frame, double(selected));
  auto adopt = [&](uint32_t id, double plain) {
    if (values_[id].load(std::memory_order_relaxed) != plain) {
      values_[id].store(plain, std::memory_order_relaxed);
      report(id, frame, plain);
    }
    shadow_[id] = plain;
  };
  for (int step = 0; step < kPlaneSteps; ++step) adopt(kParamFirstStepVelocity + uint32_t(step), velocities[step]);
  adopt(kParamLength, length);

  const int left = selection_.left;
  if (left < 0 || left == selected || !kernel::patternRow(handle_, left, velocities, length)) return;
  PatternRows::Row row;
  for (int step = 0; step < kPlaneSteps; ++step) row.velocities[step] = uint8_t(velocities[step]);
  row.length = uint8_t(length);
  leftRows_.post(left, row);
}

void KernelEngine::report(uint32_t id, int32_t frame, double plain) {
  for (int32_t i = 0; i < reportCount_; ++i) {
    if (reports_[i].id == id) {
      reports_[i].frame = frame;
      reports_[i].plain = plain;
      return;
    }
  }
  if (reportCount_ < kReportCapacity) reports_[reportCount_++] = ParamReport{frame, id, plain};
}

void KernelEngine::dropQueue() {
  reportCount_ = 0; // nothing ran: nothing to report
  // Clock events the kernel never got: the next updateClock sends the clock
  // again, from a start.
  if (clockCount_ != 0) {
    kernelMode_ = kClockUnknown;
    gridRolling_ = false;
    steadyFrames_.store(kNotSteady, std::memory_order_relaxed);
  }
  emptyQueue();
}

void KernelEngine::queueClock(const kernel::ClockEvent &clock) {
  if (clockCount_ >= kClockCapacity) return;
  if (queueEvent({0, EventKind::clock, uint32_t(clockCount_), 0.0})) clocks_[clockCount_++] = clock;
}

void KernelEngine::updateClock(int32_t frames) {
  using kernel::ClockEvent;
  using kernel::ClockMode;
  wakeClock();
  const bool bypass = values_[kParamBypass].load(std::memory_order_relaxed) >= 0.5;
  const bool follow = values_[kParamFollowHost].load(std::memory_order_relaxed) >= 0.5;
  const HostTransport &transport = transport_;
  const bool grid = follow && transport.hasTempo && transport.hasPosition && transport.tempo > 0 &&
                    std::isfinite(transport.tempo) && std::isfinite(transport.ppq) &&
                    std::fabs(transport.ppq) < 1e8;
  if (follow && !grid && !bypass) {
    // Reported once each time the host stops giving what Follow host needs.
    if (!fallbackReported_) recordRealtimeDiagnostic(kDiagFollowHostFallback, kSeverityWarning, kPhaseProcess);
    fallbackReported_ = true;
  } else {
    fallbackReported_ = false;
  }
  const ClockMode wanted = bypass ? ClockMode::halt : grid ? ClockMode::host : ClockMode::own;
  if (wanted != kernelMode_) {
    ClockEvent change;
    change.kind = wanted == ClockMode::own    ? ClockEvent::Kind::own
                  : wanted == ClockMode::halt ? ClockEvent::Kind::halt
                                              : ClockEvent::Kind::hostStop;
    queueClock(change);
    kernelMode_ = wanted;
    gridRolling_ = false;
  }
  if (wanted == ClockMode::host) followGrid(transport, frames);
  if (!follow && !bypass) clockWatched_.store(kClockFree, std::memory_order_relaxed);
  steadyFrames_.store(wanted == ClockMode::host && gridRolling_ ? frames : kNotSteady, std::memory_order_relaxed);
}

void KernelEngine::followGrid(const HostTransport &transport, int32_t frames) {
  using kernel::ClockEvent;
  if (!transport.playing) {
    if (gridRolling_) {
      ClockEvent stop;
      stop.kind = ClockEvent::Kind::hostStop;
      queueClock(stop);
    }
    gridRolling_ = false;
    return;
  }
  ClockEvent event;
  event.kind = ClockEvent::Kind::hostGrid;
  event.align = !gridRolling_;
  bool send = event.align;
  if (!event.align) {
    const double miss = std::fabs(transport.ppq - expectedPpq_);
    if (miss > kGridJumpQuarters) {
      event.align = send = true; // a locate or a loop
    } else if (transport.tempo != sentTempo_ || miss > kGridDriftQuarters) {
      send = true;
    }
  }
  if (send) {
    event.ppq = transport.ppq;
    event.barPpq = barStart(transport);
    event.tempo = transport.tempo;
    queueClock(event);
    sentTempo_ = transport.tempo;
    sentQuartersPerFrame_ = transport.tempo / (kernelRate_ * 60);
    expectedPpq_ = transport.ppq;
  }
  gridRolling_ = true;
  // The usual block moves the position on by the same amount: steadyClock
  // adds it without a multiplication.
  steadyQuarters_ = frames * sentQuartersPerFrame_;
  expectedPpq_ += steadyQuarters_;
}

void KernelEngine::runChunk(int32_t off, int32_t chunk) {
  const kernel::RunResult result = kernel::run(handle_, owedFrames_, uint32_t(chunk));
  owedFrames_ = 0;
  quietRoom_ = result.quietFrames;
  kernelQueued_ = 0;
  if (result.status != 0 || pushedCount_ > 0) [[unlikely]]
    settleChunk(result.status);
  if (result.count != 0) placeOutput(result.events, result.count, off, chunk);
}

void KernelEngine::settleChunk(int status) {
  if (selection_.pending) [[unlikely]]
    finishSelection();
  if (status == 0) {
    for (int32_t i = 0; i < pushedCount_; ++i) retrying_[pushed_[i]] = false;
  } else {
    // The kernel may have dropped any parameter of this call: offer them all
    // again until it takes them or their values change.
    for (int32_t i = 0; i < pushedCount_; ++i) {
      shadow_[pushed_[i]] = std::numeric_limits<double>::quiet_NaN();
      retrying_[pushed_[i]] = true;
    }
    if (pushedCount_ > 0) paramsDirty_.store(true);
  }
  if (status == 2) {
    if (pushedFresh_ || pushedCount_ == 0) {
      recordRealtimeDiagnostic(kDiagEventRejected, kSeverityError, kPhaseProcess);
    }
  } else if (status != 0) {
    recordRealtimeDiagnostic(kDiagProcessFailed, kSeverityError, kPhaseProcess);
  }
  pushedCount_ = 0;
  pushedFresh_ = false;
}

void KernelEngine::placeOutput(const MidiEvent *events, uint32_t count, int32_t off, int32_t chunk) {
  const uint32_t last = uint32_t(chunk - 1);
  // The block's output keeps a place for the note-off of every note sent:
  // when it fills up, what is dropped is never the end of a note. Usually
  // there is room for everything, note-offs to come included.
  if (int64_t(outputCount_) + sounding_.total() + 2 * int64_t(count) <= kOutputCapacity) [[likely]] {
    // Each message is copied whole, then its frame placed and a note-off's
    // channel set: no room to check.
    MidiEvent *out = output_ + outputCount_;
    for (uint32_t i = 0; i < count; ++i) {
      const MidiEvent in = events[i];
      MidiEvent &event = out[i];
      event = in;
      event.frame = std::min(in.frame, last) + uint32_t(off);
      if (in.kind == EventKind::noteOn) {
        sounding_.noteOn(in.number, in.channel);
      } else if (in.kind == EventKind::noteOff) {
        event.channel = sounding_.noteOff(in.number, in.channel);
      }
    }
    outputCount_ += int32_t(count);
    return;
  }
  for (uint32_t i = 0; i < count && outputCount_ < kOutputCapacity; ++i) {
    MidiEvent event = events[i];
    event.frame = std::min(event.frame, last) + uint32_t(off);
    const int32_t room = kOutputCapacity - outputCount_ - int32_t(sounding_.total());
    if (event.kind == EventKind::noteOn) {
      if (room < 2) continue;
      sounding_.noteOn(event.number, event.channel);
    } else if (event.kind == EventKind::noteOff) {
      const uint32_t before = sounding_.total();
      event.channel = sounding_.noteOff(event.number, event.channel);
      if (sounding_.total() == before && room < 1) continue; // ends nothing we sent
    } else if (room < 1) {
      continue;
    }
    output_[outputCount_++] = event;
  }
}

void KernelEngine::releaseSoundingNotes() {
  sounding_.release([this](uint8_t note, uint8_t channel) {
    if (outputCount_ >= kOutputCapacity) return false;
    output_[outputCount_++] = MidiEvent{0, EventKind::noteOff, channel, note, 0};
    return true;
  });
  releasePending_ = !sounding_.empty();
  refreshPlainFrames();
}

void KernelEngine::recordDiagnostic(uint32_t code, uint8_t severity, uint8_t phase,
                                    const char *message, const char *detail) {
  norva::recordDiagnostic(ring_, code, severity, phase, message, detail);
}

void KernelEngine::recordRealtimeDiagnostic(uint32_t code, uint8_t severity, uint8_t phase) noexcept {
  realtime_.post(code, severity, phase);
}

void KernelEngine::drainRuntimeDiagnostics() { realtime_.drainInto(ring_); }

} // namespace norva
