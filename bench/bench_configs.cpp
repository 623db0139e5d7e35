#include "bench_configs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/kernel_interface.h"
#include "kernel/kernel_state.h"
#include "params/params.h"

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

namespace norva::bench {
namespace {

using namespace norva::kernel; // the authored plane's byte form
constexpr size_t kCells = kLaneCells;

void abortingSink(void *, const char *record, size_t length, const void *) {
  std::fprintf(stderr, "kernel panic: ");
  for (size_t i = 0; i < length; ++i) {
    const char c = record[i];
    std::fputc(c == '\x1f' ? '|' : (c == '\x01' ? ' ' : c), stderr);
  }
  std::fputc('\n', stderr);
  std::abort();
}

} // namespace

const char *configName(Config config) { return config == Config::Busy ? "busy" : "default"; }

bool parseConfig(const char *text, Config *config) {
  if (text == nullptr) return false;
  if (std::strcmp(text, "default") == 0) {
    *config = Config::Default;
    return true;
  }
  if (std::strcmp(text, "busy") == 0) {
    *config = Config::Busy;
    return true;
  }
  return false;
}

void initialiseLibrary() {
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  K(set_panic_sink)(abortingSink, nullptr);
  K(runtime_init)();
}

void buildBusyAuthoredState(uint8_t (&bytes)[kAuthoredBytes]) {
  bytes[0] = 1;
  for (size_t i = 0; i < kCells; ++i) {
    bytes[laneOffset(kLaneNote) + i] = 60;
    bytes[laneOffset(kLaneVelocity) + i] = 100;
    bytes[laneOffset(kLaneGate) + i] = 50;
    bytes[laneOffset(kLaneTie) + i] = 0;
    bytes[laneOffset(kLaneCurve) + i] = 0;
    bytes[laneOffset(kLaneRatchet) + i] = 8;
    bytes[laneOffset(kLaneEnabled) + i] = 1;
  }
  for (size_t p = 0; p < 32; ++p) {
    bytes[rowOffset(kRowLength) + p] = 32;
    bytes[rowOffset(kRowResolution) + p] = 0;
    bytes[rowOffset(kRowDirection) + p] = 0;
  }
}

Instance createInstance(Config config) {
  initialiseLibrary();
  Instance instance;
  const double handle = K(create)(kSampleRate, kBlockFrames, 0, 0);
  if (handle <= 0) {
    instance.error = "create failed";
    return instance;
  }
  instance.handle = uint32_t(handle);

  if (config == Config::Busy) {
    const uint32_t h = instance.handle;
    bool queued = K(push_event)(h, NORVA_KERNEL_EVENT_PARAMETER, 0, kParamBpm, 300) == 0 &&
                  K(push_event)(h, NORVA_KERNEL_EVENT_PARAMETER, 0, kParamResolution, 5) == 0 &&
                  K(push_event)(h, NORVA_KERNEL_EVENT_PARAMETER, 0, kParamShuffle, 0.75) == 0;
    // Every step of the selected pattern sounds: no rests from the step velocities.
    for (uint32_t k = 0; k < uint32_t(kSteps) && queued; ++k)
      queued = K(push_event)(h, NORVA_KERNEL_EVENT_PARAMETER, 0, kParamFirstStepVelocity + k, 100) == 0;
    if (!queued) {
      instance.error = "busy parameters refused";
      return instance;
    }
    if (K(process)(h, kBlockFrames) != 0) {
      instance.error = "busy parameters rejected by process";
      return instance;
    }
    norva::kernel::KernelState *state = norva::kernel::instanceState(h);
    static uint8_t bytes[kAuthoredBytes];
    buildBusyAuthoredState(bytes);
    if (state == nullptr || !norva::kernel::restoreState(*state, bytes, kAuthoredBytes)) {
      instance.error = "authored state refused";
      return instance;
    }
    instance.authoredRestored = true;
  }

  // One block anchors the walker and plays the first step.
  if (K(process)(instance.handle, kBlockFrames) != 0) {
    instance.error = "first block failed";
    return instance;
  }
  return instance;
}

} // namespace norva::bench
