// Loads the built bundle the way a host does and runs N process calls at
// 48 kHz on one of the loads in plugin_loads.cpp, for instruction counts
// under callgrind:
//
//   valgrind --tool=callgrind
//     '--toggle-collect=norva::NorvaProcessor::process(Steinberg::Vst::ProcessData&)'
//     build-bench/bench/plugin_callgrind all-64ths-208 10000
//
// (one command line). The load's parameter changes go in the first call's
// IParameterChanges; the later calls carry none. A number in place of the
// load name runs the factory pattern with blocks of that many frames.
// `plugin_callgrind --list` prints the loads: name, block frames, target
// instructions per block and description, separated by tabs.
//
// The collected total covers everything inside the processor's process
// method. The difference between a run with 2N calls and one with N calls,
// divided by N, is the cost of one block: it cancels what the first calls
// (the changes among them) cost once.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin_loads.h"

#ifndef NORVA_PLUGIN_LIBRARY
#error "NORVA_PLUGIN_LIBRARY must name the built Tindrel.so"
#endif

using namespace norva::bench;

namespace {

bool parseCount(const char *text, long low, long high, long &value) {
  char *end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= low && value <= high;
}

int usage() {
  std::fprintf(stderr, "usage: plugin_callgrind LOAD|BLOCK_FRAMES CALLS [BUNDLE_OR_LIBRARY]\n"
                       "       plugin_callgrind --list\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const PluginLoad &load : pluginLoads())
      std::printf("%s\t%d\t%ld\t%s\n", load.name, int(load.blockFrames), load.targetInstructions,
                  load.description);
    return 0;
  }
  if (argc < 3 || argc > 4) return usage();

  const PluginLoad *load = findPluginLoad(argv[1]);
  long frames = 0;
  if (load != nullptr) {
    frames = load->blockFrames;
  } else if (parseCount(argv[1], 1, 16384, frames)) {
    load = findPluginLoad("factory");
  } else {
    std::fprintf(stderr, "plugin_callgrind: no load named %s\n", argv[1]);
    return usage();
  }
  long calls = 0;
  if (load == nullptr || !parseCount(argv[2], 0, 1000000000L, calls)) return usage();
  const std::string path = argc == 4 ? argv[3] : NORVA_PLUGIN_LIBRARY;

  std::string error;
  std::vector<ParamChange> changes;
  if (!loadChanges(*load, changes, error)) {
    std::fprintf(stderr, "plugin_callgrind: %s: %s\n", load->name, error.c_str());
    return 1;
  }
  long noteOns = 0;
  long events = 0;
  {
    std::unique_ptr<PluginHost> host =
        PluginHost::open(path, "plugin_callgrind", int32_t(frames), error);
    if (host == nullptr) {
      std::fprintf(stderr, "plugin_callgrind: %s\n", error.c_str());
      return 1;
    }
    host->queueChanges(changes);
    host->setTempo(hostTempo(*load));
    for (long i = 0; i < calls; ++i) {
      const auto *output = host->run(int32_t(frames));
      if (output == nullptr) {
        std::fprintf(stderr, "plugin_callgrind: process failed at call %ld\n", i);
        return 1;
      }
      for (const Steinberg::Vst::Event &event : *output) {
        ++events;
        if (event.type == Steinberg::Vst::Event::kNoteOnEvent) ++noteOns;
      }
    }
  }
  std::printf("%s: %ld-frame blocks at 48 kHz, parameter changes in the first: %zu, %ld calls, "
              "%ld output events (%ld note-ons)\n",
              load->name, frames, changes.size(), calls, events, noteOns);
  return 0;
}
