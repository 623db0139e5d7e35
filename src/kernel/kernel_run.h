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

// `process(handle, frames)` and the output of that call, after moving the
// instance's clock on by `skipped` frames that an earlier result called
// quiet and the caller did not run.
RunResult run(uint32_t handle, uint64_t skipped, uint32_t frames);

} // namespace norva::kernel
