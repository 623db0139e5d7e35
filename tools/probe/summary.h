// The few facts about a render that norva-probe prints.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render.h"

namespace norva::probe {

struct RenderSummary {
  uint64_t noteCount = 0; // note-ons
  uint64_t firstNoteFrame = 0;
  uint64_t lastNoteFrame = 0;
  std::vector<uint8_t> pitches; // distinct note-on pitches, ascending
};

RenderSummary summarizeRender(const std::vector<RenderedEvent> &events);

// Four lines:
//   notes: 48
//   first frame: 0            ("none" without notes)
//   last frame: 378000        ("none" without notes)
//   distinct pitches: 2 (60 64)   ("distinct pitches: 0" without notes)
std::string formatSummary(const RenderSummary &summary);

} // namespace norva::probe
