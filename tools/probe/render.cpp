#include "render.h"

#include <algorithm>

namespace norva::probe {
namespace {

// One input on the render's absolute frame axis.
struct TimedInput {
  uint64_t frame = 0;
  bool isParameter = false;
  uint32_t number = 0; // parameter id or note
  double value = 0.0;  // plain value or velocity
  bool on = false;
};

// Parameters first, all at frame 0 in the order given; then the notes by
// frame, keeping the given order among notes of one frame.
std::vector<TimedInput> orderInputs(const RenderOptions &options) {
  std::vector<TimedInput> inputs;
  inputs.reserve(options.settings.size() + options.notes.size());
  for (const ParameterSetting &setting : options.settings)
    inputs.push_back({0, true, setting.id, setting.value, false});
  const size_t firstNote = inputs.size();
  for (const NoteInput &note : options.notes)
    inputs.push_back({note.frame, false, note.note, note.velocity, note.on});
  std::stable_sort(inputs.begin() + static_cast<std::ptrdiff_t>(firstNote), inputs.end(),
                   [](const TimedInput &a, const TimedInput &b) { return a.frame < b.frame; });
  return inputs;
}

std::string atBlock(uint64_t start, const std::string &message) {
  return "block at frame " + std::to_string(start) + ": " + message;
}

} // namespace

bool renderSequence(SequencerBackend &backend, const RenderOptions &options,
                    RenderResult &result, std::string &error) {
  result = RenderResult{};
  if (options.blockFrames == 0) {
    error = "block length 0";
    return false;
  }
  if (!backend.create(options.sampleRate, options.blockFrames, error)) return false;

  const std::vector<TimedInput> inputs = orderInputs(options);
  const size_t maxEvents = std::max<uint32_t>(1, backend.maxEventsPerBlock());
  std::vector<BackendOutput> outputs;
  size_t nextInput = 0;
  uint64_t start = 0;
  while (start < options.totalFrames) {
    uint64_t end = std::min<uint64_t>(start + options.blockFrames, options.totalFrames);
    size_t lastInput = nextInput;
    while (lastInput < inputs.size() && inputs[lastInput].frame < end) ++lastInput;
    if (lastInput - nextInput > maxEvents) {
      // Too many inputs for one call: end the call where the first input that
      // does not fit falls due; it and its followers go into the next call.
      end = inputs[nextInput + maxEvents].frame;
      if (end == start) {
        error = "more than " + std::to_string(maxEvents) + " inputs at frame " +
                std::to_string(start);
        return false;
      }
      lastInput = nextInput;
      while (inputs[lastInput].frame < end) ++lastInput;
    }

    for (size_t i = nextInput; i < lastInput; ++i) {
      const TimedInput &input = inputs[i];
      const auto offset = static_cast<uint32_t>(input.frame - start);
      const bool pushed =
          input.isParameter
              ? backend.pushParameter(offset, input.number, input.value, error)
              : backend.pushNote(offset, input.number, input.on, input.value, error);
      if (!pushed) {
        error = atBlock(start, error);
        return false;
      }
    }
    nextInput = lastInput;

    const auto frames = static_cast<uint32_t>(end - start);
    std::string message;
    const BlockStatus status = backend.runBlock(frames, message);
    if (status == BlockStatus::Failed) {
      error = atBlock(start, message);
      return false;
    }
    if (status == BlockStatus::EventRejected && result.warning.empty())
      result.warning = atBlock(start, message);

    outputs.clear();
    if (!backend.readOutputs(outputs, error)) {
      error = atBlock(start, error);
      return false;
    }
    // The kernel delivers its output in frame order; other backends may not.
    std::stable_sort(outputs.begin(), outputs.end(),
                     [](const BackendOutput &a, const BackendOutput &b) { return a.frame < b.frame; });
    for (const BackendOutput &output : outputs) {
      result.events.push_back(
          {start + output.frame, output.kind, output.number, output.value, output.channel});
    }
    start = end;
  }
  return true;
}

} // namespace norva::probe
