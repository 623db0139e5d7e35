// The render loop: feeds a backend block by block and collects what it plays
// on one absolute frame axis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "probe_options.h"
#include "sequencer_backend.h"

namespace norva::probe {

// A played event at its absolute frame (counted from the start of the render).
struct RenderedEvent {
  uint64_t frame = 0;
  OutputKind kind = OutputKind::NoteOn;
  uint8_t number = 0;
  double value = 0.0;
  int channel = -1;
};

struct RenderResult {
  std::vector<RenderedEvent> events; // in frame order
  // First report of a block whose inputs were partly refused; empty if none.
  std::string warning;
};

// Creates the backend instance and runs options.totalFrames frames in blocks
// of options.blockFrames. Parameter settings go in at frame 0 of the first
// block, in the order given, before any note; notes at their frames. A block
// holding more inputs than the backend takes is split at an input's frame.
bool renderSequence(SequencerBackend &backend, const RenderOptions &options,
                    RenderResult &result, std::string &error);

} // namespace norva::probe
