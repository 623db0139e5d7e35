// The plug-in as a host drives it: the built bundle is loaded with the
// probe's VST 3 host (dlopen, ModuleEntry, GetPluginFactory), never linked.
//
// BM_PluginProcess/<frames>: one IAudioProcessor::process call per iteration,
// at 48 kHz, while the plug-in plays its factory pattern (running, 120 BPM,
// sixteenths). The host's side of a block is measured with it: clearing the
// input and output ParameterChanges and EventList objects, filling in the
// ProcessContext and ProcessData, and reading every output event afterwards.
// Reported: wall and CPU time per block, realtime_factor (audio seconds per
// CPU second, frames/48000 s per block) and events_per_block (output events).
//
// BM_PluginLoadToFirstBlock: per iteration, load the bundle, create the
// processor and the controller, initialize and connect them, setupProcessing
// (512-frame blocks at 48 kHz), setActive and setProcessing, run the first
// 512-frame block, then stop, disconnect, terminate, release, call ModuleExit
// and close the library. The counters split the iteration's CPU time into
// those phases (µs per iteration); the label says whether the library was
// really unloaded at the end of each iteration.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <ctime>
#include <memory>
#include <string>

#include "vst3/abi/ivstprocesscontext.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

#ifndef NORVA_PLUGIN_LIBRARY
#error "NORVA_PLUGIN_LIBRARY must name the built Tindrel.so"
#endif

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using norva::probe::EventList;
using norva::probe::HostApplication;
using norva::probe::ParameterChanges;
using norva::probe::PluginInstance;
using norva::probe::Vst3Module;

constexpr double kSampleRate = 48000.0;
constexpr int32_t kLoadBlockFrames = 512;

// What a host keeps for one instance between blocks.
struct HostBlock {
  IPtr<ParameterChanges> inputChanges = owned(new ParameterChanges());
  IPtr<ParameterChanges> outputChanges = owned(new ParameterChanges());
  IPtr<EventList> inputEvents = owned(new EventList(512));
  IPtr<EventList> outputEvents = owned(new EventList(4096));
  int64_t projectFrame = 0;

  // One block: the host clears its lists, hands them to process and reads
  // what came out. Returns the output events, or -1 when process failed.
  int run(IAudioProcessor *processor, int32_t frames) {
    inputChanges->clear();
    inputEvents->clear();
    outputChanges->clear();
    outputEvents->clear();

    ProcessContext context{};
    context.state = ProcessContext::kPlaying | ProcessContext::kContTimeValid |
                    ProcessContext::kTempoValid;
    context.sampleRate = kSampleRate;
    context.tempo = 120.0;
    context.projectTimeSamples = projectFrame;
    context.continousTimeSamples = projectFrame;

    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = kSample32;
    data.numSamples = frames;
    data.inputParameterChanges = inputChanges;
    data.outputParameterChanges = outputChanges;
    data.inputEvents = inputEvents;
    data.outputEvents = outputEvents;
    data.processContext = &context;

    if (processor->process(data) != kResultOk) return -1;
    projectFrame += frames;

    // Read every output event the way a host forwarding MIDI would.
    int32 sum = 0;
    for (const Event &event : outputEvents->events()) {
      switch (event.type) {
      case Event::kNoteOnEvent: sum += event.sampleOffset + event.noteOn.pitch; break;
      case Event::kNoteOffEvent: sum += event.sampleOffset - event.noteOff.pitch; break;
      case Event::kLegacyMIDICCOutEvent: sum += event.midiCCOut.value; break;
      default: break;
      }
    }
    benchmark::DoNotOptimize(sum);
    return int(outputEvents->events().size());
  }
};

// CPU time of the process (single-threaded here), in µs.
double cpuMicros() { return double(std::clock()) * (1e6 / CLOCKS_PER_SEC); }

void BM_PluginProcess(benchmark::State &state) {
  const auto frames = int32_t(state.range(0));
  IPtr<HostApplication> host = owned(new HostApplication("plugin_bench"));
  std::string error;
  std::unique_ptr<Vst3Module> module = Vst3Module::load(NORVA_PLUGIN_LIBRARY, error);
  std::unique_ptr<PluginInstance> plugin;
  if (module != nullptr) plugin = PluginInstance::create(*module, host, error);
  if (plugin == nullptr || !plugin->start(kSampleRate, frames, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  IAudioProcessor *processor = plugin->processor();
  HostBlock block;
  double events = 0;
  for (auto _ : state) {
    const int produced = block.run(processor, frames);
    if (produced < 0) {
      state.SkipWithError("process failed");
      break;
    }
    events += produced;
  }
  state.counters["realtime_factor"] =
      benchmark::Counter(double(frames) / kSampleRate, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["events_per_block"] = benchmark::Counter(events, benchmark::Counter::kAvgIterations);
  plugin->shutdown();
  plugin.reset();
  module.reset();
}

void BM_PluginLoadToFirstBlock(benchmark::State &state) {
  IPtr<HostApplication> host = owned(new HostApplication("plugin_bench"));
  double load = 0, instance = 0, start = 0, firstBlock = 0, teardown = 0;
  bool alwaysUnloaded = true;
  for (auto _ : state) {
    std::string error;
    const double t0 = cpuMicros();
    std::unique_ptr<Vst3Module> module = Vst3Module::load(NORVA_PLUGIN_LIBRARY, error);
    const double t1 = cpuMicros();
    std::unique_ptr<PluginInstance> plugin;
    if (module != nullptr) plugin = PluginInstance::create(*module, host, error);
    const double t2 = cpuMicros();
    if (plugin == nullptr || !plugin->start(kSampleRate, kLoadBlockFrames, error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    const double t3 = cpuMicros();
    int produced = 0;
    {
      HostBlock block;
      produced = block.run(plugin->processor(), kLoadBlockFrames);
    }
    const double t4 = cpuMicros();
    plugin->shutdown();
    plugin.reset();
    module.reset();
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

BENCHMARK(BM_PluginProcess)->Arg(128)->Arg(512)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_PluginLoadToFirstBlock)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
