#include "kernel_backend.h"

#include <cmath>
#include <string_view>

#include "kernel/kernel_interface.h"
#include "params/params.h"
#include "probe_options.h"

namespace norva::probe {
namespace {

// The kernel's panic sink is installed once per program run, so what it
// reports lives here rather than in a backend object.
struct KernelFault {
  bool raised = false;
  std::string text;
};

KernelFault &kernelFault() {
  static KernelFault fault;
  return fault;
}

// The record is byte 1, message, byte 31, trap code, byte 31, entry symbol.
void onKernelPanic(void *, const char *record, size_t length, const void *) {
  KernelFault &fault = kernelFault();
  fault.raised = true;
  std::string_view view(record != nullptr ? record : "", record != nullptr ? length : 0);
  if (!view.empty() && view.front() == '\x01') view.remove_prefix(1);
  std::string text;
  int field = 0;
  for (char c : view) {
    if (c == '\x1f') {
      text += field == 0 ? " (" : ", in ";
      ++field;
    } else if (c >= 0x20 && c != 0x7f) {
      text += c;
    }
  }
  if (field > 0) text += ')';
  fault.text = text.empty() ? "no details" : text;
}

void initialiseKernelOnce() {
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  lmpr_music_norva_tindrel_bf9421541c27_set_panic_sink(&onKernelPanic, nullptr);
  lmpr_music_norva_tindrel_bf9421541c27_runtime_init();
}

// The interface's constants as the numbers its results are compared with.
constexpr double kAbiVersion = NORVA_KERNEL_ABI_VERSION;
constexpr double kMaxOutputs = NORVA_KERNEL_MAX_EVENT_OUTPUTS;
constexpr double kKindNoteOn = NORVA_KERNEL_EVENT_NOTE_ON;
constexpr double kKindNoteOff = NORVA_KERNEL_EVENT_NOTE_OFF;
constexpr double kKindControlChange = NORVA_KERNEL_EVENT_CONTROL_CHANGE;

bool isIndex(double value, double limit) {
  return value >= 0 && value < limit && value == std::floor(value);
}

} // namespace

KernelBackend::~KernelBackend() {
  if (handle_ != 0 && !kernelFault().raised)
    lmpr_music_norva_tindrel_bf9421541c27_destroy(handle_);
}

bool KernelBackend::faulted(std::string &error) const {
  if (!kernelFault().raised) return false;
  error = "kernel fault: " + kernelFault().text;
  return true;
}

bool KernelBackend::create(double sampleRate, uint32_t maxBlockFrames, std::string &error) {
  if (handle_ != 0) {
    error = "kernel instance already created";
    return false;
  }
  initialiseKernelOnce();
  if (faulted(error)) return false;
  const double abi = lmpr_music_norva_tindrel_bf9421541c27_abi_version();
  if (faulted(error)) return false;
  if (abi != kAbiVersion) {
    error = "kernel interface version " + formatNumber(abi) + " (expected " +
            std::to_string(NORVA_KERNEL_ABI_VERSION) + ")";
    return false;
  }
  const double handle =
      lmpr_music_norva_tindrel_bf9421541c27_create(sampleRate, maxBlockFrames, 0, 0);
  if (faulted(error)) return false;
  if (!(handle >= 1 && handle <= 4294967295.0 && handle == std::floor(handle))) {
    error = "the kernel refused to create an instance at " + formatNumber(sampleRate) + " Hz with " +
            std::to_string(maxBlockFrames) + "-frame blocks";
    return false;
  }
  handle_ = static_cast<uint32_t>(handle);
  return true;
}

uint32_t KernelBackend::maxEventsPerBlock() const { return NORVA_KERNEL_MAX_EVENTS; }

bool KernelBackend::push(uint32_t kind, uint32_t frame, uint32_t a, double value,
                         const std::string &what, std::string &error) {
  const double status =
      lmpr_music_norva_tindrel_bf9421541c27_push_event(handle_, kind, frame, a, value);
  if (faulted(error)) return false;
  if (status != 0) {
    error = "the kernel refused " + what + " at offset " + std::to_string(frame) +
            " (push_event status " + formatNumber(status) + ")";
    return false;
  }
  return true;
}

bool KernelBackend::pushParameter(uint32_t frame, uint32_t id, double plainValue,
                                  std::string &error) {
  const std::string name = id < kParamCount ? NORVA_PARAMS[id].key : std::to_string(id);
  const std::string what = "parameter " + name + " = " + formatNumber(plainValue);
  return push(NORVA_KERNEL_EVENT_PARAMETER, frame, id, plainValue, what, error);
}

bool KernelBackend::pushNote(uint32_t frame, uint32_t note, bool on, double velocity,
                             std::string &error) {
  const std::string what = std::string(on ? "note-on " : "note-off ") + std::to_string(note);
  return push(on ? NORVA_KERNEL_EVENT_NOTE_ON : NORVA_KERNEL_EVENT_NOTE_OFF, frame, note,
              on ? velocity : 0.0, what, error);
}

BlockStatus KernelBackend::runBlock(uint32_t frames, std::string &message) {
  const double status = lmpr_music_norva_tindrel_bf9421541c27_process(handle_, frames);
  if (faulted(message)) return BlockStatus::Failed;
  lastBlockFrames_ = frames;
  if (status == 0) return BlockStatus::Ok;
  if (status == 2) {
    message = "the kernel rejected an input event (process status 2); the block's output is kept";
    return BlockStatus::EventRejected;
  }
  message = "the kernel could not run the block (process status " + formatNumber(status) + ")";
  return BlockStatus::Failed;
}

bool KernelBackend::readOutputs(std::vector<BackendOutput> &outputs, std::string &error) {
  const double count = lmpr_music_norva_tindrel_bf9421541c27_event_output_count(handle_);
  if (faulted(error)) return false;
  if (!isIndex(count, kMaxOutputs + 1.0)) {
    error = "the kernel reported " + formatNumber(count) + " output events";
    return false;
  }
  const auto total = static_cast<uint32_t>(count);
  for (uint32_t i = 0; i < total; ++i) {
    const double frame = lmpr_music_norva_tindrel_bf9421541c27_event_output_frame(handle_, i);
    const double kind = lmpr_music_norva_tindrel_bf9421541c27_event_output_kind(handle_, i);
    const double a = lmpr_music_norva_tindrel_bf9421541c27_event_output_a(handle_, i);
    const double b = lmpr_music_norva_tindrel_bf9421541c27_event_output_b(handle_, i);
    if (faulted(error)) return false;

    BackendOutput output;
    if (kind == kKindNoteOn) {
      output.kind = OutputKind::NoteOn;
    } else if (kind == kKindNoteOff) {
      output.kind = OutputKind::NoteOff;
    } else if (kind == kKindControlChange) {
      output.kind = OutputKind::ControlChange;
    } else {
      error = "kernel output " + std::to_string(i) + " has unknown kind " + formatNumber(kind);
      return false;
    }
    if (!isIndex(frame, lastBlockFrames_)) {
      error = "kernel output " + std::to_string(i) + " has frame " + formatNumber(frame) +
              " outside a block of " + std::to_string(lastBlockFrames_) + " frames";
      return false;
    }
    if (!isIndex(a, 128)) {
      error = "kernel output " + std::to_string(i) + " has number " + formatNumber(a);
      return false;
    }
    if (!(b >= 0 && b <= 1)) {
      error = "kernel output " + std::to_string(i) + " has value " + formatNumber(b);
      return false;
    }
    output.frame = static_cast<uint32_t>(frame);
    output.number = static_cast<uint8_t>(a);
    output.value = b;
    outputs.push_back(output);
  }
  return true;
}

} // namespace norva::probe
