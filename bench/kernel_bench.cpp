// Cost of one 128-frame kernel block at 48 kHz, through the exported interface.
//
// Reported per benchmark: wall and CPU time per call, realtime_factor (audio
// seconds rendered per CPU second; 128/48000 s of audio per call) and
// outputs_per_call (output records the calls produced on average).
#include <benchmark/benchmark.h>

#include "bench_configs.h"
#include "kernel/kernel_interface.h"

#define K(op) lmpr_music_norva_tindrel_bf9421541c27_##op

namespace {

using norva::bench::Config;

void setCounters(benchmark::State &state, double outputs) {
  state.counters["realtime_factor"] =
      benchmark::Counter(norva::bench::kBlockSeconds, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["outputs_per_call"] = benchmark::Counter(outputs, benchmark::Counter::kAvgIterations);
}

norva::bench::Instance setUp(benchmark::State &state, Config config) {
  norva::bench::Instance instance = norva::bench::createInstance(config);
  if (instance.error != nullptr) {
    state.SkipWithError(instance.error);
  } else if (config == Config::Busy) {
    state.SetLabel(instance.authoredRestored ? "ratchet 8 authored" : "parameters only, ratchet 1");
  }
  return instance;
}

// One process call per iteration; the output stays unread, as when a block
// produces nothing the caller wants.
void processBlock(benchmark::State &state, Config config) {
  const norva::bench::Instance instance = setUp(state, config);
  if (instance.error != nullptr) return;
  const uint32_t handle = instance.handle;
  double outputs = 0;
  for (auto _ : state) {
    const double status = K(process)(handle, norva::bench::kBlockFrames);
    if (status != 0) {
      state.SkipWithError("process failed");
      break;
    }
    outputs += K(event_output_count)(handle);
  }
  setCounters(state, outputs);
  K(destroy)(handle);
}

// What the engine does per sub-block: process, then read every output record
// through the four accessors.
void processAndDrain(benchmark::State &state, Config config) {
  const norva::bench::Instance instance = setUp(state, config);
  if (instance.error != nullptr) return;
  const uint32_t handle = instance.handle;
  double outputs = 0;
  for (auto _ : state) {
    if (K(process)(handle, norva::bench::kBlockFrames) != 0) {
      state.SkipWithError("process failed");
      break;
    }
    const uint32_t count = uint32_t(K(event_output_count)(handle));
    double sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
      sum += K(event_output_frame)(handle, i) + K(event_output_kind)(handle, i) +
             K(event_output_a)(handle, i) + K(event_output_b)(handle, i);
    }
    benchmark::DoNotOptimize(sum);
    outputs += count;
  }
  setCounters(state, outputs);
  K(destroy)(handle);
}

void BM_Process_Default(benchmark::State &state) { processBlock(state, Config::Default); }
void BM_Process_Busy(benchmark::State &state) { processBlock(state, Config::Busy); }
void BM_ProcessAndDrain_Busy(benchmark::State &state) { processAndDrain(state, Config::Busy); }

BENCHMARK(BM_Process_Default)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Process_Busy)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_ProcessAndDrain_Busy)->Unit(benchmark::kNanosecond);

} // namespace

BENCHMARK_MAIN();
