#include "summary.h"

#include <algorithm>
#include <bitset>

namespace norva::probe {

RenderSummary summarizeRender(const std::vector<RenderedEvent> &events) {
  RenderSummary summary;
  std::bitset<128> seen;
  for (const RenderedEvent &event : events) {
    if (event.kind != OutputKind::NoteOn) continue;
    if (summary.noteCount == 0) summary.firstNoteFrame = event.frame;
    summary.firstNoteFrame = std::min(summary.firstNoteFrame, event.frame);
    summary.lastNoteFrame = std::max(summary.lastNoteFrame, event.frame);
    ++summary.noteCount;
    seen.set(event.number & 0x7F);
  }
  for (size_t pitch = 0; pitch < seen.size(); ++pitch) {
    if (seen.test(pitch)) summary.pitches.push_back(static_cast<uint8_t>(pitch));
  }
  return summary;
}

std::string formatSummary(const RenderSummary &summary) {
  std::string text = "notes: " + std::to_string(summary.noteCount) + "\n";
  if (summary.noteCount == 0) {
    text += "first frame: none\nlast frame: none\n";
  } else {
    text += "first frame: " + std::to_string(summary.firstNoteFrame) + "\n";
    text += "last frame: " + std::to_string(summary.lastNoteFrame) + "\n";
  }
  text += "distinct pitches: " + std::to_string(summary.pitches.size());
  if (!summary.pitches.empty()) {
    text += " (";
    for (size_t i = 0; i < summary.pitches.size(); ++i) {
      if (i > 0) text += ' ';
      text += std::to_string(summary.pitches[i]);
    }
    text += ')';
  }
  text += '\n';
  return text;
}

} // namespace norva::probe
