// The plug-in as a host drives it: the built bundle is loaded with the
// probe's VST 3 host (dlopen, ModuleEntry, GetPluginFactory), never linked.
//
// BM_PluginProcess/<load>: one IAudioProcessor::process call per iteration,
// at 48 kHz, on one of the loads in plugin_loads.cpp (the label describes
// it). The load's parameter changes go in the first block, run before the
// timing starts. The host's side of a block is measured with it: filling in
// the ProcessContext and ProcessData, clearing the lists, and reading every
// output event afterwards. Reported: wall and CPU time per block,
// realtime_factor (audio seconds per CPU second, frames/48000 s per block)
// and events_per_block (output events).
//
// BM_PluginLoadToFirstBlock: per iteration, load the bundle, create the
// processor and the controller, initialize and connect them, setupProcessing
// (512-frame blocks at 48 kHz), setActive and setProcessing, run the first
// 512-frame block of the factory pattern, then stop, disconnect, terminate,
// release, call ModuleExit and close the library. The counters split the
// iteration's CPU time into those phases (µs per iteration); the label says
// whether the library was really unloaded at the end of each iteration.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "plugin_loads.h"

#ifndef NORVA_PLUGIN_LIBRARY
#error "NORVA_PLUGIN_LIBRARY must name the built Tindrel.so"
#endif

namespace {

using namespace Steinberg::Vst;
using norva::bench::ParamChange;
using norva::bench::PluginHost;
using norva::bench::PluginLoad;

constexpr double kSampleRate = norva::bench::kPluginSampleRate;
constexpr int32_t kLoadBlockFrames = 512;

// One block and the host's read of every output event, as a host forwarding
// MIDI would. Returns the output events, or -1 when process failed.
int runBlock(PluginHost &host, int32_t frames) {
  const std::vector<Event> *output = host.run(frames);
  if (output == nullptr) return -1;
  int32_t sum = 0;
  for (const Event &event : *output) {
    switch (event.type) {
    case Event::kNoteOnEvent: sum += event.sampleOffset + event.noteOn.pitch; break;
    case Event::kNoteOffEvent: sum += event.sampleOffset - event.noteOff.pitch; break;
    case Event::kLegacyMIDICCOutEvent: sum += event.midiCCOut.value; break;
    default: break;
    }
  }
  benchmark::DoNotOptimize(sum);
  return int(output->size());
}

// CPU time of the process (single-threaded here), in µs.
double cpuMicros() { return double(std::clock()) * (1e6 / CLOCKS_PER_SEC); }

void BM_PluginProcess(benchmark::State &state, const PluginLoad *load) {
  const int32_t frames = load->blockFrames;
  std::string error;
  std::vector<ParamChange> changes;
  std::unique_ptr<PluginHost> host;
  if (norva::bench::loadChanges(*load, changes, error))
    host = PluginHost::open(NORVA_PLUGIN_LIBRARY, "plugin_bench", frames, error);
  if (host == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  host->queueChanges(changes);
  host->setTempo(norva::bench::hostTempo(*load));
  if (runBlock(*host, frames) < 0) {
    state.SkipWithError("the first block failed");
    return;
  }
  double events = 0;
  for (auto _ : state) {
    const int produced = runBlock(*host, frames);
    if (produced < 0) {
      state.SkipWithError("process failed");
      break;
    }
    events += produced;
  }
  using benchmark::Counter;
  state.counters["realtime_factor"] =
      Counter(double(frames) / kSampleRate, Counter::kIsIterationInvariantRate);
  state.counters["events_per_block"] = Counter(events, Counter::kAvgIterations);
  state.SetLabel(std::to_string(frames) + " frames, " + load->description);
}

void BM_PluginLoadToFirstBlock(benchmark::State &state) {
  double load = 0, instance = 0, start = 0, firstBlock = 0, teardown = 0;
  bool alwaysUnloaded = true;
  for (auto _ : state) {
    std::string error;
    const double t0 = cpuMicros();
    std::unique_ptr<PluginHost> host = PluginHost::load(NORVA_PLUGIN_LIBRARY, "plugin_bench", error);
    const double t1 = cpuMicros();
    const bool created = host != nullptr && host->create(error);
    const double t2 = cpuMicros();
    if (!created || !host->start(kLoadBlockFrames, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double t3 = cpuMicros();
    const int produced = runBlock(*host, kLoadBlockFrames);
    const double t4 = cpuMicros();
    host.reset();
    const double t5 = cpuMicros();
    if (produced < 0) {
      state.SkipWithError("the first block failed");
      break;
    }
    // Still mapped after dlclose means the next iteration would not load it again.
    if (void *still = dlopen(NORVA_PLUGIN_LIBRARY, RTLD_NOW | RTLD_NOLOAD)) {
      alwaysUnloaded = false;
      dlclose(still);
    }
    load += t1 - t0;
    instance += t2 - t1;
    start += t3 - t2;
    firstBlock += t4 - t3;
    teardown += t5 - t4;
  }
  using benchmark::Counter;
  state.counters["load_us"] = Counter(load, Counter::kAvgIterations);
  state.counters["create_connect_us"] = Counter(instance, Counter::kAvgIterations);
  state.counters["setup_active_us"] = Counter(start, Counter::kAvgIterations);
  state.counters["first_block_us"] = Counter(firstBlock, Counter::kAvgIterations);
  state.counters["teardown_us"] = Counter(teardown, Counter::kAvgIterations);
  state.SetLabel(alwaysUnloaded ? "library unloaded each iteration" : "library stayed loaded");
}

} // namespace

int main(int argc, char **argv) {
  for (const PluginLoad &load : norva::bench::pluginLoads()) {
    benchmark::RegisterBenchmark(("BM_PluginProcess/" + std::string(load.name)).c_str(),
                                 BM_PluginProcess, &load)
        ->Unit(benchmark::kNanosecond);
  }
  benchmark::RegisterBenchmark("BM_PluginLoadToFirstBlock", BM_PluginLoadToFirstBlock)
      ->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
