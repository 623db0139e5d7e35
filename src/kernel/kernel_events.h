// The events that cross the kernel's boundary, as C++ types: one numbering of
// event kinds (the interface's), and the typed MIDI message the kernel hands
// out and the engine and processor pass on unchanged in shape.
#pragma once

#include <cstdint>

#include "kernel/kernel_interface.h"

namespace norva {

enum class EventKind : uint8_t {
  parameter = NORVA_KERNEL_EVENT_PARAMETER,
  noteOn = NORVA_KERNEL_EVENT_NOTE_ON,
  noteOff = NORVA_KERNEL_EVENT_NOTE_OFF,
  controlChange = NORVA_KERNEL_EVENT_CONTROL_CHANGE,
  // Queued inside the module only, never sent as MIDI: an edit of the
  // authored plane, a change of clock.
  planeEdit,
  clock,
};

inline constexpr uint8_t kMidiChannels = 16;
inline constexpr uint8_t kMidiNotes = 128;

// One outgoing MIDI message. `frame` counts from the start of the call that
// produced it (the kernel call, or the host block once the engine has placed
// it); `value` is the velocity of a note-on (1..127), the controller value
// of a control change (0..127) and 0 for a note-off.
struct MidiEvent {
  uint32_t frame = 0;
  EventKind kind = EventKind::noteOff;
  uint8_t channel = 0; // 0..15
  uint8_t number = 0;  // note or controller, 0..127
  uint8_t value = 0;
};

} // namespace norva
