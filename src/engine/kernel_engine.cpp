#include "engine/kernel_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include "kernel/kernel_interface.h"

#define KERNEL(op) lmpr_music_norva_tindrel_bf9421541c27_##op

namespace norva {
namespace {

// Process-wide state shared by every engine: the kernel runtime is set up
// once, the trace file is opened once, a trap is remembered for good.
std::once_flag gRuntimeOnce;
std::atomic<bool> gKernelTrapped{false};
unsigned long long gTraceBlocks = 0;
std::atomic<bool> gAudioRefusalPrinted{false};

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

// Opened on first use, once per process; later calls cost one load.
FILE *traceFile() {
  static FILE *const file = openTraceFile();
  return file;
}

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// value rounded half away from zero and clamped to 0..127; NaN gives 0.
// Below 0.5 everything rounds or clamps to 0, so only positive values are
// rounded, by truncating value + 0.5.
uint8_t midiByte(double value) {
  if (!(value >= 0.5)) return 0;
  return value >= 127 ? 127 : uint8_t(value + 0.5);
}

uint8_t noteByte(double a) { return uint8_t(!(a > 0) ? 0 : (a > 127 ? 127 : a)); }

void zeroOutputs(float **outputs, int32_t outputCount, int32_t frames) {
  if (outputs == nullptr || outputCount <= 0 || frames <= 0) return;
  for (int32_t c = 0; c < outputCount; ++c) {
    if (outputs[c] != nullptr) std::memset(outputs[c], 0, sizeof(float) * size_t(frames));
  }
}

} // namespace

bool kernelTrapped() { return gKernelTrapped.load(); }

KernelEngine::KernelEngine() {
  std::fill(std::begin(soundingChannel_), std::end(soundingChannel_), kNotSounding);
  for (uint32_t i = 0; i < kParamCount; ++i) {
    values_[i] = NORVA_PARAMS[i].defaultPlain;
    shadow_[i] = NORVA_PARAMS[i].defaultPlain;
  }
  padOverrides_ = std::make_shared<const SamplerPadOverrides>();
}

KernelEngine::~KernelEngine() { destroyKernel(); }

void KernelEngine::destroyKernel() {
  if (handle_ != 0) {
    KERNEL(destroy)(handle_);
    handle_ = 0;
  }
}

bool KernelEngine::setup(double sampleRate, int32_t maxBlockFrames) {
  ready_ = false;

  bool valid = std::isfinite(sampleRate) && sampleRate <= 4000000.0 && sampleRate >= 0.000001;
  uint64_t numerator = 0;
  uint64_t denominator = 1000000;
  if (valid) {
    const double scaled = std::trunc(sampleRate * 1000000.0);
    valid = scaled >= 1.0 && scaled < 18446744073709551616.0;
    if (valid) {
      numerator = uint64_t(scaled);
      const uint64_t divisor = gcd(numerator, denominator);
      numerator /= divisor;
      denominator /= divisor;
    }
  }
  if (!valid || maxBlockFrames < 1 || maxBlockFrames > kMaxBlockCeiling) {
    recordDiagnostic(kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure,
                     "host processing configuration is invalid", nullptr);
    std::fprintf(stderr, "norva-plugin-shell: rejected host format (sampleRate=%.9g, maxBlockFrames=%d)\n",
                 sampleRate, maxBlockFrames);
    if (maxBlockFrames > kMaxBlockCeiling) {
      std::fprintf(stderr,
                   "norva-plugin-shell: maxBlockFrames exceeds the %d-frame ceiling; render long "
                   "fixtures as a LOOP of <=%d-frame blocks rather than declaring the whole "
                   "fixture as one block\n",
                   kMaxBlockCeiling, kMaxBlockCeiling);
    }
    return false;
  }

  rateNumerator_ = numerator;
  rateDenominator_ = denominator;
  sampleRate_ = double(numerator) / double(denominator);
  maxBlockFrames_ = maxBlockFrames;
  scratch_.assign(size_t(2) * size_t(maxBlockFrames), 0);

  // Kernel-rate length of one maximal host block, plus margin.
  const unsigned __int128 scaledFrames =
      (unsigned __int128)uint64_t(maxBlockFrames) * denominator * uint64_t(kReferenceRate);
  const unsigned __int128 needed = (scaledFrames + numerator - 1) / numerator + 64;
  const unsigned __int128 floorCapacity = 3 * uint64_t(maxBlockFrames) + 8;
  const unsigned __int128 capacity = needed > floorCapacity ? needed : floorCapacity;
  if (capacity > kFifoCapacityCeiling) {
    recordDiagnostic(kDiagInvalidConfiguration, kSeverityError, kPhaseConfigure,
                     "host rate requires unsupported SRC FIFO capacity", nullptr);
    return false;
  }
  fifoCapacity_ = uint64_t(capacity);
  for (auto &fifo : fifos_) fifo.assign(size_t(2 * fifoCapacity_), 0.0f);
  // The tables depend on the rate alone: a re-setup at the same rate (the host's
  // setupProcessing followed by setActive) keeps them.
  if (tablesRate_ != sampleRate_ || tables_[0].empty()) {
    buildInterpolationTables();
    tablesRate_ = sampleRate_;
  }

  converterPrimed_ = false;
  rateConverted_ = false;
  std::fill(std::begin(converterPositions_), std::end(converterPositions_), 0);
  queueCount_ = 0;
  midiCount_ = 0;
  paramsDirty_.store(true);

  initialiseKernelRuntime();

  destroyKernel();
  double created = KERNEL(create)(sampleRate_, uint32_t(kKernelChunk), 0, 0);
  kernelRate_ = sampleRate_;
  if (created == 0) {
    created = KERNEL(create)(kReferenceRate, uint32_t(kKernelChunk), 0, 0);
    kernelRate_ = kReferenceRate;
    if (created != 0 && sampleRate_ != kReferenceRate) rateConverted_ = true;
  }
  // Handles beyond 32 bits are not handed out by the kernel.
  handle_ = created > 0 && created <= 4294967295.0 ? uint32_t(created) : 0;

  trace_ = traceFile();
  if (FILE *trace = trace_) {
    std::fprintf(trace, "S this=%p rate=%.17g kernelRate=%.17g handle=%u\n", static_cast<void *>(this),
                 sampleRate_, kernelRate_, handle_);
    std::fflush(trace);
  }

  if (handle_ == 0) {
    recordDiagnostic(kDiagKernelCreateFailed, kSeverityFatal, kPhaseConfigure,
                     "product kernel instance creation failed", nullptr);
    recordDiagnostic(kDiagEngineUnavailable, kSeverityFatal, kPhaseConfigure,
                     "kernel runtime is unavailable after setup", nullptr);
    std::fprintf(stderr, "norva-plugin-shell: kernel setup failed at %.9g Hz\n", sampleRate_);
    return false;
  }

  for (uint32_t i = 0; i < kParamCount; ++i) {
    shadow_[i] = NORVA_PARAMS[i].defaultPlain;
    retrying_[i] = false;
  }
  KERNEL(input_view)(handle_, &kernelInput_, &kernelInputCount_);
  KERNEL(output_view)(handle_, &kernelOutput_, &kernelOutputCount_);
  ready_ = true;
  return true;
}

void KernelEngine::buildInterpolationTables() {
  const double cutoffs[2] = {std::min(kReferenceRate / sampleRate_, 1.0),
                             std::min(sampleRate_ / kReferenceRate, 1.0)};
  const double pi = 3.14159265358979323846;
  double window[kFilterTaps];
  for (int k = 0; k < kFilterTaps; ++k) window[k] = 0.5 - 0.5 * std::cos(2 * pi * k / 31);
  for (int t = 0; t < 2; ++t) {
    const double f = cutoffs[t];
    if (t == 1 && f == cutoffs[0]) {
      // Same cutoff both ways (always so at the reference rate): same table.
      tables_[1] = tables_[0];
      break;
    }
    tables_[t].assign(size_t(kFilterPhases) * kFilterTaps, 0.0f);
    for (int p = 0; p < kFilterPhases; ++p) {
      double taps[kFilterTaps];
      double sum = 0;
      for (int k = 0; k < kFilterTaps; ++k) {
        const double x = f * (double(p) / kFilterPhases - (k - 15));
        const double s = std::fabs(x) < 1e-12 ? 1.0 : std::sin(pi * x) / (pi * x);
        taps[k] = window[k] * f * s;
        sum += taps[k];
      }
      float *phase = &tables_[t][size_t(p) * kFilterTaps];
      for (int k = 0; k < kFilterTaps; ++k) phase[k] = float(sum != 0 ? taps[k] / sum : taps[k]);
    }
  }
}

const float *KernelEngine::interpolationTable(int direction) const {
  if (direction < 0 || direction > 1 || tables_[direction].empty()) return nullptr;
  return tables_[direction].data();
}

bool KernelEngine::queueEvent(const KernelEngineEvent &event) {
  if (queueCount_ >= kQueueCapacity) return false;
  queue_[queueCount_++] = event;
  return true;
}

bool KernelEngine::pushParamNormalized(uint32_t index, double normalized, int32_t frame) {
  if (index >= kParamCount) return false;
  KernelEngineEvent event;
  event.kind = 0;
  event.frame = frame;
  event.a = index;
  event.value = paramToPlain(NORVA_PARAMS[index], normalized);
  return queueEvent(event);
}

bool KernelEngine::pushNoteOn(int32_t note, double velocity, int32_t frame, uint32_t route,
                              uint32_t channel) {
  KernelEngineEvent event;
  event.kind = 1;
  event.frame = frame;
  event.value = velocity;
  event.note = uint32_t(note);
  event.route = route;
  event.channel = channel & 15u;
  return queueEvent(event);
}

bool KernelEngine::pushNoteOff(int32_t note, int32_t frame, uint32_t route, uint32_t channel) {
  KernelEngineEvent event;
  event.kind = 2;
  event.frame = frame;
  event.note = uint32_t(note);
  event.route = route;
  event.channel = channel & 15u;
  return queueEvent(event);
}

bool KernelEngine::pushController(uint32_t controller, uint32_t value, int32_t frame,
                                  uint32_t route, uint32_t channel) {
  if (controller >= 128 || value >= 128) return false;
  KernelEngineEvent event;
  event.kind = 3;
  event.frame = frame;
  event.a = controller;
  event.value = double(value);
  event.route = route;
  event.channel = channel & 15u;
  return queueEvent(event);
}

void KernelEngine::setParamValue(uint32_t index, double plain) {
  if (index >= kParamCount) return;
  values_[index] = plain;
  paramsDirty_.store(true);
}

double KernelEngine::paramValue(uint32_t index) const {
  return index < kParamCount ? values_[index] : 0.0;
}

void KernelEngine::setVariation(int32_t variation) { variation_ = std::clamp(variation, 0, 19); }

bool KernelEngine::pushProductParameter(uint32_t index, int32_t frame, double plain,
                                        const char *source) {
  return offerParameter(index, frame, plain, source, true);
}

bool KernelEngine::offerParameter(uint32_t index, int32_t frame, double plain, const char *source,
                                  bool fresh) {
  if (index >= kParamCount || handle_ == 0) return false;
  const double status = KERNEL(push_event)(handle_, 1, uint32_t(frame), index, plain);
  if (FILE *trace = traceFile()) {
    std::fprintf(trace, "E this=%p blk=%llu frame=%u kind=1 a=%u value=%.17g src=%s status=%g\n",
                 static_cast<void *>(this), gTraceBlocks, uint32_t(frame), index, plain, source, status);
  }
  if (status != 0) {
    paramsDirty_.store(true);
    return false;
  }
  shadow_[index] = plain;
  if (pushedCount_ < kPushedCapacity) pushed_[pushedCount_++] = uint8_t(index);
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
  for (uint32_t n = 0; n < kParamCount; ++n) {
    const uint32_t i = (retryCursor_ + n) % kParamCount;
    if (values_[i] == shadow_[i]) continue;
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
    offerParameter(i, 0, values_[i], "republish", true);
  }
  if (retry >= 0) {
    retryCursor_ = uint32_t(retry + 1) % kParamCount;
    offerParameter(uint32_t(retry), 0, values_[retry], "republish", false);
  }
  if (moreRetries) paramsDirty_.store(true);
}

void KernelEngine::refuseBlock(float **outputs, int32_t outputCount, int32_t frames,
                               uint8_t severity) {
  zeroOutputs(outputs, outputCount, frames);
  queueCount_ = 0;
  recordRealtimeDiagnostic(kDiagProcessFailed, severity, kPhaseProcess);
}

void KernelEngine::sortQueue() {
  // Stable insertion sort by frame: equal frames keep their push order.
  for (int32_t i = 1; i < queueCount_; ++i) {
    const KernelEngineEvent event = queue_[i];
    int32_t j = i;
    while (j > 0 && queue_[j - 1].frame > event.frame) {
      queue_[j] = queue_[j - 1];
      --j;
    }
    queue_[j] = event;
  }
}

void KernelEngine::processBlock(const float *const *, int32_t, float **, int32_t, float **outputs,
                                int32_t outputCount, int32_t frames) {
  midiCount_ = 0;
  if (!ready_) {
    refuseBlock(outputs, outputCount, frames, kSeverityFatal);
    return;
  }
  if (frames <= 0) {
    // A parameter flush: values land now, the kernel hears them next block.
    sortQueue();
    for (int32_t i = 0; i < queueCount_; ++i) {
      if (queue_[i].kind == 0 && queue_[i].a < kParamCount) values_[queue_[i].a] = queue_[i].value;
    }
    paramsDirty_.store(true);
    queueCount_ = 0;
    return;
  }
  if (outputCount >= 1) {
    if (!gAudioRefusalPrinted.exchange(true)) {
      std::fprintf(stderr,
                   "norva kernel_engine: processBlock requested %d output channel(s) from a build "
                   "that declares %d; refusing rather than reading the null planar output view an "
                   "event-only product legally has\n",
                   outputCount, 0);
    }
    refuseBlock(outputs, outputCount, frames, kSeverityError);
    return;
  }
  if (frames > maxBlockFrames_ || handle_ == 0) {
    refuseBlock(outputs, outputCount, frames, kSeverityError);
    return;
  }

  if (queueCount_ > 0 || trace_ != nullptr || pushedCount_ > 0) {
    runQueuedBlock(frames);
    return;
  }
  // Most blocks: nothing queued, no trace, nothing pushed between blocks.
  // Per chunk only the republish check, the kernel call and its output.
  for (int32_t off = 0; off < frames; off += kKernelChunk) {
    const int32_t chunk = std::min(frames - off, kKernelChunk);
    if (paramsDirty_.load(std::memory_order_acquire)) {
      runRepublishingChunk(off, chunk);
      continue;
    }
    const double status = KERNEL(process)(handle_, uint32_t(chunk));
    if (status != 0) {
      settleChunk(status, off, chunk);
      continue;
    }
    readChunkOutput(off, chunk);
  }
}

__attribute__((noinline)) void KernelEngine::runRepublishingChunk(int32_t off, int32_t chunk) {
  static constexpr bool kNoFrameZero[kParamCount] = {};
  publishDirtyParameters(kNoFrameZero);
  finishChunk(KERNEL(process)(handle_, uint32_t(chunk)), off, chunk);
}

__attribute__((noinline)) void KernelEngine::runQueuedBlock(int32_t frames) {
  // The parameters this block's queue sets at frame 0: the republish leaves
  // them to the queue.
  sortQueue();
  bool frameZero[kParamCount] = {};
  int32_t next = 0;
  while (next < queueCount_ && queue_[next].frame < 0) ++next; // never delivered
  for (int32_t i = next; i < queueCount_ && queue_[i].frame == 0; ++i) {
    if (queue_[i].kind == 0 && queue_[i].a < kParamCount) frameZero[queue_[i].a] = true;
  }

  FILE *const trace = trace_;
  for (int32_t off = 0; off < frames; off += kKernelChunk) {
    const int32_t chunk = std::min(frames - off, kKernelChunk);
    // Chunks with nothing to deliver go straight to the kernel.
    if (trace != nullptr || (next < queueCount_ && queue_[next].frame < off + chunk) ||
        paramsDirty_.load(std::memory_order_acquire)) {
      next = deliverChunkInputs(trace, frames, off, chunk, next, frameZero);
    }
    finishChunk(KERNEL(process)(handle_, uint32_t(chunk)), off, chunk);
  }
  queueCount_ = 0;
}

void KernelEngine::finishChunk(double status, int32_t off, int32_t chunk) {
  if (status != 0 || pushedCount_ > 0) {
    settleChunk(status, off, chunk);
  } else {
    readChunkOutput(off, chunk);
  }
}

void KernelEngine::settleChunk(double status, int32_t off, int32_t chunk) {
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
  // A call that ran its block has output to read, or note-offs are lost.
  if (status == 0 || status == 2) readChunkOutput(off, chunk);
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

int32_t KernelEngine::deliverChunkInputs(FILE *trace, int32_t frames, int32_t off, int32_t chunk,
                                         int32_t next, const bool *frameZero) {
  if (trace != nullptr) {
    if (off == 0) ++gTraceBlocks;
    std::fprintf(trace, "B this=%p blk=%llu off=%d chunk=%d frames=%d events=%d\n",
                 static_cast<void *>(this), gTraceBlocks, off, chunk, frames, queueCount_);
  }
  bool notesRejected = false;
  if (paramsDirty_.load(std::memory_order_acquire)) publishDirtyParameters(frameZero);

  for (; next < queueCount_ && queue_[next].frame < off + chunk; ++next) {
    const KernelEngineEvent &event = queue_[next];
    const uint32_t relative = uint32_t(event.frame - off);
    if (event.kind == 0) {
      if (event.a >= kParamCount) continue;
      values_[event.a] = event.value;
      offerParameter(event.a, int32_t(relative), event.value, "queue", true);
      continue;
    }
    double status = -1.0; // controllers are not delivered
    if (event.kind == 1) {
      status = KERNEL(push_event)(handle_, 2, relative, event.note, event.value);
    } else if (event.kind == 2) {
      status = KERNEL(push_event)(handle_, 3, relative, event.note, 0.0);
    }
    if (trace != nullptr) {
      std::fprintf(trace, "E this=%p blk=%llu frame=%u kind=%d a=%u value=%.17g src=queue status=%g\n",
                   static_cast<void *>(this), gTraceBlocks, relative,
                   event.kind == 1 ? 2 : (event.kind == 2 ? 3 : 0), event.note, event.value, status);
    }
    if (status != 0 && status != -1.0) notesRejected = true;
  }
  if (trace != nullptr) std::fflush(trace);
  if (notesRejected) recordRealtimeDiagnostic(kDiagEventRejected, kSeverityError, kPhaseProcess);
  return next;
}

void KernelEngine::readChunkOutput(int32_t off, int32_t chunk) {
  // Most chunks play nothing: the count alone, without a call frame here.
  const uint32_t count = uint32_t(KERNEL(event_output_count)(handle_));
  if (count != 0) readChunkRecords(off, chunk, count);
}

void KernelEngine::readChunkRecords(int32_t off, int32_t chunk, uint32_t count) {
  // The kernel's records carry no channel: everything it sends is on its
  // "tindrel.channel", the value it last accepted.
  const uint8_t channel = kernelChannel();
  for (uint32_t i = 0; i < count && midiCount_ < kMidiCapacity; ++i) {
    const double kind = KERNEL(event_output_kind)(handle_, i);
    double frame = KERNEL(event_output_frame)(handle_, i);
    const double a = KERNEL(event_output_a)(handle_, i);
    const double b = KERNEL(event_output_b)(handle_, i);
    frame = frame < 0 ? 0 : (frame > chunk - 1 ? chunk - 1 : frame);
    KernelEngineMidi record;
    record.frame = uint32_t(frame) + uint32_t(off);
    record.data1 = noteByte(a);
    if (kind == 2) {
      const double velocity = b > 1.0 ? b - 2.0 : b;
      record.status = uint8_t(0x90 | channel);
      soundingChannel_[record.data1] = channel;
      record.data2 = midiByte(velocity * 127);
    } else if (kind == 3) {
      // A note ends on the channel it started on, even if the channel
      // changed while it sounded.
      uint8_t &started = soundingChannel_[record.data1];
      record.status = uint8_t(0x80 | (started <= 15 ? started : channel));
      started = kNotSounding;
      record.data2 = 0;
    } else if (kind == 4) {
      record.status = uint8_t(0xB0 | channel);
      record.data2 = midiByte(b * 127);
    } else {
      continue;
    }
    midi_[midiCount_++] = record;
  }
}

uint8_t KernelEngine::kernelChannel() const {
  constexpr uint32_t kChannelParam = 20;
  double channel = shadow_[kChannelParam];
  if (!(channel >= 0 && channel <= 15)) channel = values_[kChannelParam];
  return channel >= 0 && channel <= 15 ? uint8_t(channel) : 0;
}

bool KernelEngine::publishRuntimeBank(std::shared_ptr<const StagedBank>) {
  // This engine has no sample memory: every staged bank is refused.
  return false;
}

bool KernelEngine::publishSamplerPadOverrides(const SamplerPadOverrides &overrides) {
  if (!padOverridesPublishable(overrides)) return false;
  padOverrides_ = std::make_shared<const SamplerPadOverrides>(overrides);
  return true;
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
