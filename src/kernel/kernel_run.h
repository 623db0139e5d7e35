// The kernel as its caller inside the module reads it: one entry runs an
// instance and hands back its output as typed records, instead of an
// exported call per column and record. The entries keep the exported ones'
// rules (entry guard, poisoned library, each instance on one thread); the sixteen
// exports stay, unchanged, for callers outside the module.
#pragma once

#include <cstdint>

#include "kernel/kernel_events.h"

namespace norva::kernel {

struct RunResult {
  int status = 1;                    // as `process` returns it
  uint32_t count = 0;                // output records, 0 unless status is 0 or 2
  const MidiEvent *events = nullptr; // valid until the next entry
  // Frames after this call in which nothing can happen without new input
  // (no scheduled message, no step): running them would only move the
  // instance's clock. Valid until the next event is pushed.
  double quietFrames = 0;
};

// How the steps are started (KernelState::clockMode).
enum class ClockMode : uint8_t {
  own = 0,  // the kernel's own tempo ("tindrel.bpm"), from where Run starts it
  host = 1, // clock events on the host's musical grid; nothing steps on its own
  halt = 2, // nothing steps (bypassed)
};

// A change of clock, or the host's musical position, at a frame.
struct ClockEvent {
  enum class Kind : uint8_t {
    own,      // back to the own clock: the walk starts afresh at this frame (while Run is on)
    hostGrid, // the host's grid clocks the steps from here: position and tempo at this frame
    hostStop, // the host's grid clocks the steps; its transport stopped: sounding notes end
    halt,     // no steps; sounding notes end
  };
  Kind kind = Kind::own;
  // hostGrid: the musical position at this frame and the start of its bar,
  // in quarter notes, and the tempo in BPM (positive). Steps fall where the
  // position crosses a multiple of the step (the resolution in force),
  // extrapolated at that tempo until the next hostGrid event.
  double ppq = 0;
  double barPpq = 0;
  double tempo = 120;
  // hostGrid: a start, locate or loop. The walk of the selected pattern
  // starts over on the bar, carried to where the position stands; false
  // goes on with the walk (the tempo or the position was corrected).
  bool align = false;
};

// One edit of the authored plane, at a frame. Bounds are those of
// params/authored_plane.h; an edit outside them is refused whole.
struct PlaneEdit {
  enum class Kind : uint8_t {
    stepField,    // pattern, step, field (StepField), value 0..255
    patternField, // pattern, field (PatternField), value inside the field's bounds
    plane,        // the whole plane in its byte form (kPlaneBytes at `plane`)
    // Selects `pattern` as "tindrel.pattern" does, but the pattern keeps its
    // authored velocities and length: they become the live ones (the
    // step-velocity parameters' and Length's), where the parameter would
    // carry the live ones over. Applies with the frame's parameters, in push
    // order, so a step velocity or Length set at that frame after it sets the
    // newly selected pattern's.
    select,
  };
  Kind kind = Kind::stepField;
  uint8_t pattern = 0;
  uint8_t step = 0;
  uint8_t field = 0;
  int32_t value = 0;
  // kind plane: read when the call that applies the edit runs; the caller
  // keeps the bytes until that call has returned.
  const uint8_t *plane = nullptr;
};

// Queue a clock event or a plane edit for the next call, at `frame` of it,
// in frame order with the exported push_event's events. At one frame,
// parameters apply first, then clock events and edits in push order, then
// notes and controllers. Statuses as push_event: 0 queued, 1 unknown handle
// or frame out of range, 3 queue full, 4 out of frame order. A refused edit
// (bounds, a plane the byte form's reader refuses) makes the call report 2.
int pushClock(uint32_t handle, uint32_t frame, const ClockEvent &clock);
int pushEdit(uint32_t handle, uint32_t frame, const PlaneEdit &edit);

// A pattern's velocities and length as the instance holds them (the selected
// pattern's are the live ones); between calls. False for an unknown handle
// or pattern.
bool patternRow(uint32_t handle, int pattern, double (&velocities)[32], double &length);
// The selected pattern; -1 for an unknown handle.
int selectedPattern(uint32_t handle);

// `process(handle, frames)` and the output of that call, after moving the
// instance's clock on by `skipped` frames that an earlier result called
// quiet and the caller did not run.
RunResult run(uint32_t handle, uint64_t skipped, uint32_t frames);

} // namespace norva::kernel
