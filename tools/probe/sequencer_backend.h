// What the probe's render loop needs from a sequencer: create an instance,
// queue parameter changes and notes for the coming block, run the block and
// read back what it played. The VST 3 backend drives a plug-in bundle as a
// host does; tests stand in their own backends without touching the loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace norva::probe {

enum class OutputKind : uint8_t { NoteOn, NoteOff, ControlChange };

// One played event. frame is the offset inside the block that produced it;
// value is 0..1 (velocity / 127 or controller value / 127, 0 for a note off).
struct BackendOutput {
  uint32_t frame = 0;
  OutputKind kind = OutputKind::NoteOn;
  uint8_t number = 0;
  double value = 0.0;
  int channel = -1; // -1: the backend does not report channels
};

enum class BlockStatus {
  Ok,
  EventRejected, // an input was refused, but the block ran and its output is readable
  Failed,
};

class SequencerBackend {
public:
  virtual ~SequencerBackend() = default;

  // Creates the instance. Called once, before anything else.
  virtual bool create(double sampleRate, uint32_t maxBlockFrames, std::string &error) = 0;
  // How many inputs one block can carry.
  virtual uint32_t maxEventsPerBlock() const = 0;

  // Queue inputs for the next block; frames are offsets inside it and must not
  // decrease from one push to the next.
  virtual bool pushParameter(uint32_t frame, uint32_t id, double plainValue,
                             std::string &error) = 0;
  virtual bool pushNote(uint32_t frame, uint32_t note, bool on, double velocity,
                        std::string &error) = 0;

  // Runs one block; message explains anything but Ok.
  virtual BlockStatus runBlock(uint32_t frames, std::string &message) = 0;
  // Appends the last block's output, in frame order.
  virtual bool readOutputs(std::vector<BackendOutput> &outputs, std::string &error) = 0;

  // Saved state, for backends that keep one. setInitialState is called
  // before create and applied by it; readState after the render.
  virtual bool setInitialState(const std::vector<uint8_t> &, std::string &error) {
    error = "this sequencer keeps no state";
    return false;
  }
  virtual bool readState(std::vector<uint8_t> &, std::string &error) {
    error = "this sequencer keeps no state";
    return false;
  }
  // The plain value a parameter holds now; false when the backend cannot tell.
  virtual bool currentPlainValue(uint32_t, double &) { return false; }
};

} // namespace norva::probe
