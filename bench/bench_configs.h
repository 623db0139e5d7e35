// The configurations the kernel is measured in, shared by the Google Benchmark
// suite and the callgrind driver so both measure exactly the same work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/kernel_state.h"

namespace norva::bench {

inline constexpr double kSampleRate = 48000.0;
inline constexpr uint32_t kBlockFrames = 128;
// Audio time covered by one process call.
inline constexpr double kBlockSeconds = double(kBlockFrames) / kSampleRate;

enum class Config {
  // Factory settings: running at 120 BPM in sixteenths, a step every 6000 frames.
  Default,
  // 300 BPM in sixty-fourths (a step every 600 frames), shuffle 0.75, every
  // step sounding with ratchet 8: sixteen note messages per step.
  Busy,
};

const char *configName(Config config);
// "default" or "busy".
bool parseConfig(const char *text, Config *config);

// Initialises the kernel library once per program and installs a panic sink
// that reports the record and aborts.
void initialiseLibrary();

struct Instance {
  uint32_t handle = 0;
  // True when the busy configuration's authored plane (ratchet 8 on every
  // step) reached the instance; false when only its parameters did.
  bool authoredRestored = false;
  const char *error = nullptr;
};

// Creates an instance at 48 kHz with 128-frame blocks in the given
// configuration and runs it for one block, so the walker is anchored and the
// measured calls see steady-state work. handle 0 and error set on failure.
Instance createInstance(Config config);

// The authored plane of the busy configuration in its 7265-byte form: factory
// content with ratchet 8 and velocity 100 on every step of every pattern.
inline constexpr size_t kAuthoredBytes = norva::kernel::kStateBytes;
void buildBusyAuthoredState(uint8_t (&bytes)[kAuthoredBytes]);

} // namespace norva::bench
