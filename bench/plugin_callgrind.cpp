// Loads the built bundle the way a host does and runs N process calls of one
// block size at 48 kHz while the plug-in plays its factory pattern (running,
// 120 BPM, sixteenths), for instruction counts under callgrind:
//
//   valgrind --tool=callgrind
//     '--toggle-collect=norva::NorvaProcessor::process(Steinberg::Vst::ProcessData&)'
//     build-bench/bench/plugin_callgrind 512 10000
//
// (one command line). The collected total covers everything inside the
// processor's process method. The difference between a run with 2N calls and
// one with N calls, divided by N, is the cost of one block: it cancels what
// the first calls cost once.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "vst3/abi/ivstprocesscontext.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

#ifndef NORVA_PLUGIN_LIBRARY
#error "NORVA_PLUGIN_LIBRARY must name the built Tindrel.so"
#endif

using namespace Steinberg;
using namespace Steinberg::Vst;
using namespace norva::probe;

namespace {

bool parseCount(const char *text, long low, long high, long &value) {
  char *end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high;
}

} // namespace

int main(int argc, char **argv) {
  long frames = 0;
  long calls = 0;
  if (argc < 3 || argc > 4 || !parseCount(argv[1], 1, 16384, frames) ||
      !parseCount(argv[2], 0, 1000000000L, calls)) {
    std::fprintf(stderr, "usage: plugin_callgrind BLOCK_FRAMES CALLS [BUNDLE_OR_LIBRARY]\n");
    return 2;
  }
  const std::string path = argc == 4 ? argv[3] : NORVA_PLUGIN_LIBRARY;
  constexpr double kSampleRate = 48000.0;

  long noteOns = 0;
  long events = 0;
  {
    IPtr<HostApplication> host = owned(new HostApplication("plugin_callgrind"));
    std::string error;
    std::unique_ptr<Vst3Module> module = Vst3Module::load(path, error);
    std::unique_ptr<PluginInstance> plugin;
    if (module != nullptr) plugin = PluginInstance::create(*module, host, error);
    if (plugin == nullptr || !plugin->start(kSampleRate, int32_t(frames), error)) {
      std::fprintf(stderr, "plugin_callgrind: %s\n", error.c_str());
      return 1;
    }
    IAudioProcessor *processor = plugin->processor();
    IPtr<ParameterChanges> inputChanges = owned(new ParameterChanges());
    IPtr<ParameterChanges> outputChanges = owned(new ParameterChanges());
    IPtr<EventList> inputEvents = owned(new EventList(512));
    IPtr<EventList> outputEvents = owned(new EventList(4096));

    for (long i = 0; i < calls; ++i) {
      inputChanges->clear();
      inputEvents->clear();
      outputChanges->clear();
      outputEvents->clear();

      ProcessContext context{};
      context.state = ProcessContext::kPlaying | ProcessContext::kContTimeValid |
                      ProcessContext::kTempoValid;
      context.sampleRate = kSampleRate;
      context.tempo = 120.0;
      context.projectTimeSamples = TSamples(i) * frames;
      context.continousTimeSamples = context.projectTimeSamples;

      ProcessData data;
      data.processMode = kRealtime;
      data.symbolicSampleSize = kSample32;
      data.numSamples = int32(frames);
      data.inputParameterChanges = inputChanges;
      data.outputParameterChanges = outputChanges;
      data.inputEvents = inputEvents;
      data.outputEvents = outputEvents;
      data.processContext = &context;

      if (processor->process(data) != kResultOk) {
        std::fprintf(stderr, "plugin_callgrind: process failed at call %ld\n", i);
        return 1;
      }
      for (const Event &event : outputEvents->events()) {
        ++events;
        if (event.type == Event::kNoteOnEvent) ++noteOns;
      }
    }
    plugin->shutdown();
  }
  std::printf("%ld-frame blocks at 48 kHz, %ld calls, %ld output events (%ld note-ons)\n", frames,
              calls, events, noteOns);
  return 0;
}
