// The kernel as its caller inside the module reads it: one entry runs an
// instance and hands back its output as typed records, instead of an
// exported call per column and record. The entries keep the exported ones'
// rules (entry guard, poisoned library, one caller at a time); the sixteen
// exports stay, unchanged, for callers outside the module.
#pragma once

#include <cstdint>

#include "kernel/kernel_events.h"

namespace norva::kernel {

struct RunResult {
  double status = 1;                 // as `process` returns it
  uint32_t count = 0;                // output records, 0 unless status is 0 or 2
  const MidiEvent *events = nullptr; // valid until the next entry
};

// `process(handle, frames)` and the output of that call.
RunResult run(uint32_t handle, uint32_t frames);

// Moves the instance's time on over the part of the next `frames` in which
// nothing can happen (no queued event, no scheduled message, no step), which
// is all running it would do: all of `frames` when it is quiet to the end,
// otherwise the most whole `grain`s that are. Returns the frames passed; 0
// changes nothing. `frames` may exceed the instance's maximum block.
uint32_t passQuietly(uint32_t handle, uint32_t frames, uint32_t grain);

} // namespace norva::kernel
