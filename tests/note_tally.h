// The notes a plug-in sent and has not ended, per channel and pitch, read
// from its output events. A note-off for a silent pitch is the host's own,
// passed through to the instrument behind: not a fault, and not counted.
#pragma once

#include <string>
#include <vector>

#include "vst3/abi/ivstevents.h"

namespace norva::test {

struct NoteTally {
  int sounding[16][128] = {};
  int total = 0;
  bool outOfRange = false; // a note named no MIDI channel or pitch

  void add(const Steinberg::Vst::Event &e) {
    using Steinberg::Vst::Event;
    if (e.type != Event::kNoteOnEvent && e.type != Event::kNoteOffEvent) return;
    const bool on = e.type == Event::kNoteOnEvent;
    const int channel = on ? e.noteOn.channel : e.noteOff.channel;
    const int pitch = on ? e.noteOn.pitch : e.noteOff.pitch;
    if (channel < 0 || channel > 15 || pitch < 0 || pitch > 127) {
      outOfRange = true;
      return;
    }
    int &count = sounding[channel][pitch];
    if (!on && count == 0) return;
    count += on ? 1 : -1;
    total += on ? 1 : -1;
  }
  void add(const std::vector<Steinberg::Vst::Event> &events) {
    for (const auto &e : events) add(e);
  }

  // Notes sent and never ended, as "channel/pitch".
  std::vector<std::string> hanging() const {
    std::vector<std::string> out;
    for (int channel = 0; channel < 16; ++channel)
      for (int pitch = 0; pitch < 128; ++pitch)
        if (sounding[channel][pitch] > 0) out.push_back(std::to_string(channel) + "/" + std::to_string(pitch));
    return out;
  }
};

} // namespace norva::test
