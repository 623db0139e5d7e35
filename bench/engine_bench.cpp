// Cost of one host block through KernelEngine::processBlock at 48 kHz, for
// 512- and 16384-frame blocks (4 and 128 kernel calls).
//
// Configurations:
//   default — factory settings: running at 120 BPM in sixteenths;
//   busy    — 300 BPM in sixty-fourths (a step every 600 frames), shuffle
//             0.75, and a note on/off pair from the host every 64 frames,
//             queued before every block as the processor does (the pushes
//             are inside the measured time).
//
// Reported per benchmark: time per block, realtime_factor (audio seconds
// processed per CPU second) and midi_per_block (MIDI records the engine
// produced per block on average).
#include <benchmark/benchmark.h>

#include <memory>

#include "engine/kernel_engine.h"

namespace {

using norva::KernelEngine;
using namespace norva; // parameter ids

constexpr double kSampleRate = 48000.0;

enum class Load { Default, Busy };

// The host's notes of one busy block: on at every 64th frame, off 32 later.
void queueHostNotes(KernelEngine &engine, int32_t frames) {
  for (int32_t f = 0; f < frames; f += 64) {
    const int32_t note = 64 + (f / 64) % 12;
    engine.pushNoteOn(note, 0.8, f);
    engine.pushNoteOff(note, f + 32);
  }
}

void engineBlock(benchmark::State &state, Load load) {
  const int32_t frames = int32_t(state.range(0));
  auto engine = std::make_unique<KernelEngine>();
  if (!engine->setup(kSampleRate, frames)) {
    state.SkipWithError("setup failed");
    return;
  }
  if (load == Load::Busy) {
    engine->setParamValue(kParamBpm, 300);
    engine->setParamValue(kParamResolution, 5);
    engine->setParamValue(kParamShuffle, 0.75);
  }
  // One block first: the values land and the walker is anchored.
  engine->processBlock(frames);

  double midi = 0;
  for (auto _ : state) {
    if (load == Load::Busy) queueHostNotes(*engine, frames);
    engine->processBlock(frames);
    midi += double(engine->output().size());
  }

  engine->drainRuntimeDiagnostics();
  if (engine->diagnostics().count != 0) state.SkipWithError("the engine reported a diagnostic");
  state.counters["realtime_factor"] =
      benchmark::Counter(double(frames) / kSampleRate, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["midi_per_block"] = benchmark::Counter(midi, benchmark::Counter::kAvgIterations);
}

void BM_EngineBlock_Default(benchmark::State &state) { engineBlock(state, Load::Default); }
void BM_EngineBlock_Busy(benchmark::State &state) { engineBlock(state, Load::Busy); }

BENCHMARK(BM_EngineBlock_Default)->Arg(512)->Arg(16384)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EngineBlock_Busy)->Arg(512)->Arg(16384)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
