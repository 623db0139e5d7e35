// The kernel's exported plain-function interface: instance slots, handles,
// the per-instance input event queue and output table.
#include "kernel/kernel_interface.h"

#include <cfloat>
#include <cmath>
#include <memory>
#include <new>

#include "kernel/kernel_run.h"
#include "kernel/kernel_state.h"
#include "kernel/runtime.h"
#include "params/params.h"

#define NORVA_KERNEL_FN(op) lmpr_music_norva_tindrel_bf9421541c27_##op
#define NORVA_KERNEL_NAME(op) NORVA_KERNEL_SYMBOL_PREFIX #op

namespace {

using namespace norva::kernel;
using norva::EventKind;
using norva::MidiEvent;

constexpr int kMaxInstances = NORVA_KERNEL_MAX_INSTANCES;
constexpr uint32_t kQueueCapacity = NORVA_KERNEL_MAX_EVENTS;
// Generations wrap before the handle slot + 32 * (generation - 1) + 1 would
// leave 32 bits.
constexpr uint32_t kMaxGeneration = (1u << 27) - 1;
constexpr double kNotQuiet = -HUGE_VAL;
static_assert(norva::kKernelParamCount == NORVA_KERNEL_PARAMETER_COUNT, "the kernel's parameters are the catalogue's first rows");
// Queue kinds of the in-module entries, after the exported ones; push_event
// refuses them.
constexpr uint32_t kKindClock = NORVA_KERNEL_EVENT_CONTROL_CHANGE + 1;
constexpr uint32_t kKindEdit = kKindClock + 1;

struct Slot {
  uint32_t generation = 0;
  // The slot's handle while active; while free, a tag no handle of this slot
  // can equal (see freeTag). One comparison finds a live instance.
  uint32_t liveHandle = 0; // Library gives every free slot its tag
  uint32_t maximumBlockSize = 0;
  std::unique_ptr<KernelState> state;
  BlockRecord block;
  uint32_t eventCount = 0;
  int32_t egressCount = 0;
  OutputView egressView;
  std::unique_ptr<uint8_t[]> stateBuffer;
  // Calls with no queued event that end at or before `quietUntil` only move
  // the time base; those that end at or before `stepAt` only hand out
  // scheduled messages (the kernel's horizon after the last full call).
  double quietUntil = kNotQuiet;
  double stepAt = kNotQuiet;

  uint32_t eventFrames[kQueueCapacity];
  uint32_t eventKinds[kQueueCapacity];
  uint32_t eventParameters[kQueueCapacity];
  int32_t eventA[kQueueCapacity];
  float eventValues[kQueueCapacity];
  ClockEvent clocks[kQueueCapacity]; // by queue position, for kKindClock
  PlaneEdit edits[kQueueCapacity];   // by queue position, for kKindEdit

  MidiEvent egress[kOutputCapacity];
};

// The handles of slot i are i + 1 + 32 * k. A free slot holds i + 2, which
// belongs to slot i + 1 (and 33 to slot 0), so it matches none of them, nor
// 0, which maps to slot 31.
constexpr uint32_t freeTag(int index) { return uint32_t(index) + 2; }

struct Library {
  Library() {
    for (int i = 0; i < kMaxInstances; ++i) slots[i].liveHandle = freeTag(i);
  }
  bool initialised = false;
  Slot slots[kMaxInstances];
};

Library gLibrary;

Library &library() { return gLibrary; }

// The views of an instance without audio: a valid pointer, length 0.
float gEmptyView[1] = {0.0f};

// Slots are live only between a successful create and its destroy, and only
// after runtime_init, so a handle match is the whole check.
Slot *slotFor(uint32_t handle) {
  Slot &slot = library().slots[(handle - 1) % kMaxInstances];
  return slot.liveHandle == handle ? &slot : nullptr;
}

// Rounds to the nearest 32-bit float as IEEE arithmetic does: a finite
// double beyond the float range becomes an infinity (which no parameter
// accepts) instead of an undefined narrowing.
float toFloat(double value) {
  constexpr double kOverflow = 0x1.ffffffp+127; // FLT_MAX plus half a unit in the last place
  if (value >= kOverflow) return HUGE_VALF;
  if (value <= -kOverflow) return -HUGE_VALF;
  return float(value);
}

bool applyDefaults(KernelState &state) {
  for (uint32_t id = 0; id < norva::kKernelParamCount; ++id) {
    if (!applyParameter(state, id, norva::NORVA_PARAMS[id].defaultPlain)) return false;
  }
  return true;
}

bool validEvent(uint32_t kind, uint32_t a, double value) {
  switch (kind) {
  case NORVA_KERNEL_EVENT_PARAMETER: return a < norva::kKernelParamCount;
  case NORVA_KERNEL_EVENT_NOTE_ON:
    return a <= 127 && ((value >= 0 && value <= 1) || (value >= 2 && value <= 3));
  case NORVA_KERNEL_EVENT_NOTE_OFF: return a <= 127 && value == 0;
  case NORVA_KERNEL_EVENT_CONTROL_CHANGE: return a <= 127 && value >= 0 && value <= 1;
  default: return false;
  }
}

// The entry of an operation a host block calls several times (process, the
// output count and columns): the usual entry inline, the checked one out of
// line, so the usual path saves no registers. `refused` is the answer of a
// poisoned library.
template <auto Body, typename Result, typename... Args>
[[gnu::noinline, gnu::cold]] Result afterCheckedEntry(const char *symbol, Result refused, Args... args) {
  if (!runtime::enterLibrary(true, symbol)) return refused;
  return Body(args...);
}

template <auto Body, typename Result, typename... Args>
inline Result hotEntry(const char *symbol, Result refused, Args... args) {
  if (!runtime::enterLibraryUsual(true, symbol)) [[unlikely]]
    return afterCheckedEntry<Body, Result>(symbol, refused, args...);
  return Body(args...);
}

// The output columns of the exported interface.
enum class Column { frame, kind, a, b };

double columnValue(const MidiEvent &event, Column column) {
  switch (column) {
  case Column::frame: return double(event.frame);
  case Column::kind: return double(uint8_t(event.kind));
  case Column::a: return double(event.number);
  default: return event.kind == EventKind::noteOff ? 0.0 : double(float(event.value / 127.0));
  }
}

// Accessor of one output column; 0 for an unknown handle or index.
double outputColumnEntered(uint32_t handle, uint32_t index, Column column) {
  const Slot *slot = slotFor(handle);
  if (slot == nullptr || index >= uint32_t(slot->egressCount)) return 0;
  return columnValue(slot->egress[index], column);
}

double outputColumn(const char *symbol, uint32_t handle, uint32_t index, Column column) {
  return hotEntry<outputColumnEntered>(symbol, 0.0, handle, index, column);
}

void emptyView(float **data, uint32_t *length) {
  if (data != nullptr) *data = nullptr;
  if (length != nullptr) *length = 0;
}

void handOutEmptyView(float **data, uint32_t *length) {
  if (data != nullptr) *data = gEmptyView;
  if (length != nullptr) *length = 0;
  runtime::recordHandedOut();
}

// The clock events, edits, notes and controllers of one frame's group.
bool applyLaterKinds(Slot &slot, uint32_t from, uint32_t end) {
  KernelState &state = *slot.state;
  bool accepted = true;
  for (uint32_t k = from; k < end; ++k) {
    const uint32_t kind = slot.eventKinds[k];
    if (kind == kKindClock) {
      accepted = applyClock(state, slot.clocks[k]) && accepted;
    } else if (kind == kKindEdit && slot.edits[k].kind != PlaneEdit::Kind::select) {
      accepted = applyPlaneEdit(state, slot.edits[k]) && accepted;
    }
  }
  for (uint32_t k = from; k < end; ++k) {
    const uint32_t kind = slot.eventKinds[k];
    if (kind == NORVA_KERNEL_EVENT_PARAMETER || kind == kKindClock || kind == kKindEdit) continue;
    if (!handleEvent(state, EventKind(kind), slot.eventA[k], double(slot.eventValues[k]))) accepted = false;
  }
  return accepted;
}

// A call that runs the kernel over its queue and its frames.
__attribute__((noinline)) int processFully(Slot &slot, uint32_t frames) {
  KernelState &state = *slot.state;
  slot.quietUntil = slot.stepAt = kNotQuiet;
  BlockRecord &block = slot.block;

  // A rejected event is dropped and reported with status 2; the rest of the
  // queue still applies and the block still runs, so one bad value never
  // silences the sequencer.
  bool rejected = false;
  uint32_t cursor = 0;
  const uint32_t count = slot.eventCount;
  uint32_t i = 0;
  while (i < count) {
    const uint32_t f = slot.eventFrames[i];
    if (f >= frames) break;
    if (cursor < f) {
      block.start = cursor;
      block.length = f - cursor;
      if (!process(state, block)) {
        slot.eventCount = 0;
        slot.egressCount = 0;
        return 2;
      }
      cursor = f;
    }
    uint32_t end = i;
    while (end < count && slot.eventFrames[end] == f) ++end;
    // Parameters of a frame apply before its clock events and edits, and
    // those before its notes and controllers.
    bool later = false;
    for (uint32_t k = i; k < end; ++k) {
      if (slot.eventKinds[k] != NORVA_KERNEL_EVENT_PARAMETER) {
        // A pattern selection is one of the frame's parameters.
        if (slot.eventKinds[k] == kKindEdit && slot.edits[k].kind == PlaneEdit::Kind::select) {
          if (!applyPlaneEdit(state, slot.edits[k])) rejected = true;
        } else {
          later = true;
        }
        continue;
      }
      if (!applyParameter(state, slot.eventParameters[k], double(slot.eventValues[k]))) rejected = true;
    }
    if (later) rejected = !applyLaterKinds(slot, i, end) || rejected;
    if (runtime::poisoned()) return 1;
    i = end;
  }
  // The last sub-block runs after every event applied, so its step timing
  // holds for the state the call leaves.
  const bool timingFresh = cursor < frames;
  if (timingFresh) {
    block.start = cursor;
    block.length = frames - cursor;
    if (!process(state, block)) {
      slot.eventCount = 0;
      slot.egressCount = 0;
      return 2;
    }
  }
  if (runtime::poisoned()) return 1;

  OutputView &view = slot.egressView;
  view.count = 0;
  slot.eventCount = 0;
  if (!emitEvents(state, view) || view.count < 0 || view.count > kOutputCapacity) {
    slot.egressCount = 0;
    return 3;
  }
  slot.egressCount = view.count;
  const Horizon horizon = quietHorizon(state, timingFresh);
  slot.quietUntil = horizon.quietUntil;
  slot.stepAt = horizon.stepAt;
  return rejected ? 2 : 0;
}

static_assert(kPendingCapacity <= kOutputCapacity, "every scheduled message fits one call's output");

// A call with nothing queued that ends before the next step: only scheduled
// messages (note-offs, ratchets) fall due.
__attribute__((noinline)) int handOutScheduled(Slot &slot, double end) {
  KernelState &state = *slot.state;
  OutputView &view = slot.egressView;
  view.count = 0;
  emitScheduled(state, end, view);
  slot.egressCount = view.count;
  const auto &pending = state.pending;
  slot.quietUntil = pending.count > 0 && pending.frames[0] < slot.stepAt ? pending.frames[0] : slot.stepAt;
  return 0;
}

// A call on a live slot.
inline int processSlot(Slot *slot, uint32_t frames) {
  if (frames > slot->maximumBlockSize) return 1;
  if (slot->eventCount == 0) {
    // Most calls: nothing queued, nothing due, no step starting.
    KernelState &state = *slot->state;
    const double end = state.baseFrame + frames;
    if (end <= slot->quietUntil) {
      state.baseFrame = end;
      slot->egressCount = 0;
      return 0;
    }
    if (end <= slot->stepAt) return handOutScheduled(*slot, end);
  }
  return processFully(*slot, frames);
}

// The two operations every engine chunk makes, after their entry.
inline double processEntered(uint32_t handle, uint32_t frames) {
  Slot *slot = slotFor(handle);
  return slot == nullptr ? 1 : double(processSlot(slot, frames));
}

inline double outputCountEntered(uint32_t handle) {
  const Slot *slot = slotFor(handle);
  return slot == nullptr ? 0 : double(slot->egressCount);
}

inline norva::kernel::RunResult runEntered(uint32_t handle, uint64_t skipped, uint32_t frames) {
  norva::kernel::RunResult result;
  Slot *slot = slotFor(handle);
  if (slot == nullptr) return result;
  slot->state->baseFrame += double(skipped);
  result.status = processSlot(slot, frames);
  if (result.status == 0 || result.status == 2) {
    result.count = uint32_t(slot->egressCount);
    result.events = slot->egress;
    const double room = slot->quietUntil - slot->state->baseFrame;
    result.quietFrames = room > 0 ? room : 0;
  }
  return result;
}

} // namespace

namespace norva::kernel {

RunResult run(uint32_t handle, uint64_t skipped, uint32_t frames) {
  return hotEntry<runEntered>(NORVA_KERNEL_NAME(process), RunResult{}, handle, skipped, frames);
}

namespace {

// The queue place for an in-module event at `frame`, after the exported
// push_event's checks of frame, room and order; -1 with the status.
int32_t queuePlace(Slot *slot, uint32_t kind, uint32_t frame, int &status) {
  status = 1;
  if (slot == nullptr || frame >= slot->maximumBlockSize) return -1;
  status = 3;
  if (slot->eventCount >= kQueueCapacity) return -1;
  const uint32_t n = slot->eventCount;
  status = 4;
  if (n > 0 && slot->eventFrames[n - 1] > frame) return -1;
  status = 0;
  slot->eventFrames[n] = frame;
  slot->eventKinds[n] = kind;
  slot->eventParameters[n] = 0;
  slot->eventA[n] = 0;
  slot->eventValues[n] = 0;
  slot->eventCount = n + 1;
  return int32_t(n);
}

int pushClockEntered(uint32_t handle, uint32_t frame, const ClockEvent &clock) {
  int status = 1;
  const int32_t n = queuePlace(slotFor(handle), kKindClock, frame, status);
  if (n >= 0) slotFor(handle)->clocks[n] = clock;
  return status;
}

int pushEditEntered(uint32_t handle, uint32_t frame, const PlaneEdit &edit) {
  int status = 1;
  const int32_t n = queuePlace(slotFor(handle), kKindEdit, frame, status);
  if (n >= 0) slotFor(handle)->edits[n] = edit;
  return status;
}

} // namespace

int pushClock(uint32_t handle, uint32_t frame, const ClockEvent &clock) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(push_event))) return 1;
  return pushClockEntered(handle, frame, clock);
}

int pushEdit(uint32_t handle, uint32_t frame, const PlaneEdit &edit) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(push_event))) return 1;
  return pushEditEntered(handle, frame, edit);
}

bool patternRow(uint32_t handle, int pattern, double (&velocities)[32], double &length) {
  static_assert(sizeof velocities / sizeof *velocities == kSteps);
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(push_event))) return false;
  const Slot *slot = slotFor(handle);
  if (slot == nullptr || pattern < 0 || pattern >= kPatterns) return false;
  const KernelState &state = *slot->state;
  for (int step = 0; step < kSteps; ++step) velocities[step] = state.stepVelocity[pattern * kSteps + step];
  length = state.patternLengths[pattern];
  return true;
}

int selectedPattern(uint32_t handle) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(push_event))) return -1;
  const Slot *slot = slotFor(handle);
  return slot == nullptr ? -1 : int(slot->state->selectedPattern);
}

KernelState *instanceState(uint32_t handle) {
  Slot *slot = slotFor(handle);
  if (slot == nullptr) return nullptr;
  // The caller may change anything: the next call runs the full path.
  slot->quietUntil = slot->stepAt = kNotQuiet;
  return slot->state.get();
}

} // namespace norva::kernel

extern "C" {

void NORVA_KERNEL_FN(runtime_init)(void) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(runtime_init))) return;
  Library &lib = library();
  for (int index = 0; index < kMaxInstances; ++index) {
    Slot &slot = lib.slots[index];
    slot.generation = 0;
    slot.liveHandle = freeTag(index);
    slot.maximumBlockSize = 0;
    slot.state.reset();
    slot.block = BlockRecord();
    slot.eventCount = 0;
    slot.egressCount = 0;
    slot.egressView = OutputView();
    slot.stateBuffer.reset();
    slot.quietUntil = slot.stepAt = kNotQuiet;
  }
  lib.initialised = true;
  (void)runtime::cycleThreshold();
}

void NORVA_KERNEL_FN(set_panic_sink)(norva_kernel_panic_sink sink, void *context) {
  if (!runtime::enterCallbackGuard(NORVA_KERNEL_NAME(set_panic_sink))) return;
  runtime::setPanicSink(sink, context);
}

uint32_t NORVA_KERNEL_FN(collect)(void) {
  if (!runtime::enterLibrary(false, NORVA_KERNEL_NAME(collect))) return 0;
  return runtime::collect();
}

double NORVA_KERNEL_FN(abi_version)(void) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(abi_version))) return 0;
  return NORVA_KERNEL_ABI_VERSION;
}

double NORVA_KERNEL_FN(create)(double sampleRate, uint32_t maxFrames, uint32_t inputs,
                               uint32_t outputs) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(create))) return 0;
  Library &lib = library();
  if (!lib.initialised) return 0;
  if (!(sampleRate > 0) || !std::isfinite(sampleRate)) return 0;
  if (maxFrames < 1 || maxFrames > uint32_t(NORVA_KERNEL_MAX_FRAMES)) return 0;
  if (inputs != 0 || outputs != 0) return 0;
  // The rate travels on as a 32-bit float: it must be finite and positive there too.
  const double kernelRate = double(toFloat(sampleRate));
  if (!(kernelRate > 0) || !std::isfinite(kernelRate)) return 0;

  int index = 0;
  while (index < kMaxInstances && lib.slots[index].liveHandle != freeTag(index)) ++index;
  if (index == kMaxInstances) return 0;
  Slot &slot = lib.slots[index];
  slot.generation = slot.generation >= kMaxGeneration ? 1 : slot.generation + 1;

  std::unique_ptr<KernelState> state(createState());
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[NORVA_KERNEL_STATE_MAX_BYTES]());
  if (state == nullptr || buffer == nullptr) {
    runtime::trap("lumac: out of memory\n");
    return 0;
  }
  PrepareConfig config;
  config.maxFrames = maxFrames;
  config.sampleRate = kernelRate;
  if (!prepare(*state, config)) return 0;

  slot.state = std::move(state);
  slot.maximumBlockSize = maxFrames;
  slot.eventCount = 0;
  slot.egressCount = 0;
  slot.egressView.capacity = kOutputCapacity;
  slot.egressView.count = 0;
  slot.egressView.events = slot.egress;
  slot.block = BlockRecord();
  slot.stateBuffer = std::move(buffer);
  slot.quietUntil = slot.stepAt = kNotQuiet;

  if (!applyDefaults(*slot.state)) {
    slot.maximumBlockSize = 0;
    return 0;
  }
  slot.liveHandle = uint32_t(index) + 32 * (slot.generation - 1) + 1;
  return double(slot.liveHandle);
}

double NORVA_KERNEL_FN(destroy)(uint32_t handle) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(destroy))) return 1;
  Slot *slot = slotFor(handle);
  if (slot == nullptr) return 1;
  slot->liveHandle = freeTag(int((handle - 1) % kMaxInstances));
  slot->maximumBlockSize = 0;
  slot->eventCount = 0;
  slot->egressCount = 0;
  slot->stateBuffer.reset();
  return 0;
}

double NORVA_KERNEL_FN(reset)(uint32_t handle) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(reset))) return 1;
  Slot *slot = slotFor(handle);
  if (slot == nullptr) return 1;
  reset(*slot->state);
  slot->quietUntil = slot->stepAt = kNotQuiet;
  const bool defaultsAccepted = applyDefaults(*slot->state);
  slot->eventCount = 0;
  slot->egressCount = 0;
  return defaultsAccepted ? 0 : 2;
}

double NORVA_KERNEL_FN(push_event)(uint32_t handle, uint32_t kind, uint32_t frame, uint32_t a,
                                   double value) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(push_event))) return 1;
  Slot *slot = slotFor(handle);
  if (slot == nullptr || frame >= slot->maximumBlockSize) return 1;
  if (!validEvent(kind, a, value)) return 2;
  if (!std::isfinite(value) || slot->eventCount >= kQueueCapacity) return 3;
  const uint32_t n = slot->eventCount;
  if (n > 0 && slot->eventFrames[n - 1] > frame) return 4;
  const bool parameter = kind == NORVA_KERNEL_EVENT_PARAMETER;
  slot->eventFrames[n] = frame;
  slot->eventKinds[n] = kind;
  slot->eventParameters[n] = parameter ? a : 0;
  slot->eventA[n] = parameter ? 0 : int32_t(a);
  slot->eventValues[n] = toFloat(value);
  slot->eventCount = n + 1;
  return 0;
}

double NORVA_KERNEL_FN(process)(uint32_t handle, uint32_t frames) {
  return hotEntry<processEntered>(NORVA_KERNEL_NAME(process), 1.0, handle, frames);
}

double NORVA_KERNEL_FN(event_output_count)(uint32_t handle) {
  return hotEntry<outputCountEntered>(NORVA_KERNEL_NAME(event_output_count), 0.0, handle);
}

double NORVA_KERNEL_FN(event_output_frame)(uint32_t handle, uint32_t index) {
  return outputColumn(NORVA_KERNEL_NAME(event_output_frame), handle, index, Column::frame);
}

double NORVA_KERNEL_FN(event_output_kind)(uint32_t handle, uint32_t index) {
  return outputColumn(NORVA_KERNEL_NAME(event_output_kind), handle, index, Column::kind);
}

double NORVA_KERNEL_FN(event_output_a)(uint32_t handle, uint32_t index) {
  return outputColumn(NORVA_KERNEL_NAME(event_output_a), handle, index, Column::a);
}

double NORVA_KERNEL_FN(event_output_b)(uint32_t handle, uint32_t index) {
  return outputColumn(NORVA_KERNEL_NAME(event_output_b), handle, index, Column::b);
}

void NORVA_KERNEL_FN(input_view)(uint32_t handle, float **data, uint32_t *length) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(input_view))) return emptyView(data, length);
  (void)slotFor(handle);
  handOutEmptyView(data, length);
}

void NORVA_KERNEL_FN(output_view)(uint32_t handle, float **data, uint32_t *length) {
  if (!runtime::enterLibrary(true, NORVA_KERNEL_NAME(output_view))) return emptyView(data, length);
  (void)slotFor(handle);
  handOutEmptyView(data, length);
}

} // extern "C"
