// The notes the plug-in has sent out and not yet ended, counted per pitch and
// channel, so that every note-on gets its note-off: a note-off goes to a
// channel where its pitch sounds, and a new kernel instance (the host
// re-activating the plug-in) does not leave the old one's notes hanging.
#pragma once

#include <bit>
#include <cstdint>

#include "kernel/kernel_events.h"

namespace norva {

class SoundingNotes {
public:
  void noteOn(uint8_t note, uint8_t channel) {
    uint8_t &count = counts_[note][channel];
    if (count == 255) return; // a stack that deep ends at the first release anyway
    if (count++ == 0) channels_[note] |= uint16_t(1u << channel);
    ++total_;
  }

  // The channel that a note-off for `note`, sent by the kernel on `channel`,
  // ends: that channel when the pitch sounds there, otherwise the lowest
  // channel where it sounds (the note began before a channel change),
  // otherwise `channel` itself.
  uint8_t noteOff(uint8_t note, uint8_t channel) {
    const uint16_t sounding = channels_[note];
    if (sounding == 0) return channel;
    const uint8_t ends = (sounding >> channel & 1u) != 0 ? channel : uint8_t(std::countr_zero(sounding));
    if (--counts_[note][ends] == 0) channels_[note] &= uint16_t(~(1u << ends));
    --total_;
    return ends;
  }

  bool empty() const { return total_ == 0; }
  // Notes sounding, each of which still owes a note-off.
  uint32_t total() const { return total_; }

  // Hands `emit` one note-off per sounding note, while it returns true;
  // the notes it took are no longer sounding.
  template <typename Emit> void release(Emit &&emit) {
    for (uint8_t note = 0; note < kMidiNotes && total_ != 0; ++note) {
      while (channels_[note] != 0) {
        const uint8_t channel = uint8_t(std::countr_zero(channels_[note]));
        if (!emit(note, channel)) return;
        noteOff(note, channel);
      }
    }
  }

private:
  uint8_t counts_[kMidiNotes][kMidiChannels] = {};
  uint16_t channels_[kMidiNotes] = {};
  uint32_t total_ = 0;
};

} // namespace norva
