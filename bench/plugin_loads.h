// The loads the plug-in is measured on as a host drives it, shared by the
// Google Benchmark suite (plugin_bench) and the callgrind driver
// (plugin_callgrind) so both run exactly the same blocks.
//
// A load is a block size and a set of parameter values. The host delivers the
// values in the first process call's IParameterChanges (normalised, at offset
// 0); every later block carries no changes and no notes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "params/params.h"
#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/abi/ivstevents.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

namespace norva::bench {

inline constexpr double kPluginSampleRate = 48000.0;

// One parameter in plain units (BPM, resolution index, shuffle, ...).
struct PlainSetting {
  uint32_t id;
  double plain;
};

struct PluginLoad {
  const char *name;        // as given on the command line and in benchmark names
  const char *description; // as printed in the results table
  int32_t blockFrames;
  // The most instructions one block may cost inside the processor's process.
  long targetInstructions;
  std::span<const PlainSetting> settings;
  // Every one of the 32 step-velocity parameters at 100.
  bool allStepsOn;
  // Follow host on, the host's transport at the load's tempo ("tindrel.bpm"
  // of its settings, else 120 BPM), so the steps are those of the load
  // without it.
  bool followHost = false;
};

// The tempo of the host's transport on a load: 120 BPM, or the load's own
// tempo when it follows the host.
double hostTempo(const PluginLoad &load);

std::span<const PluginLoad> pluginLoads();
// nullptr when no load has that name.
const PluginLoad *findPluginLoad(const char *name);

struct ParamChange {
  uint32_t id;
  double normalized;
};
// The first block's changes, normalised by the catalogue's rules. Returns
// false with error set when a value does not survive the round trip to plain
// (a setting outside its row's range or off its row's step).
bool loadChanges(const PluginLoad &load, std::vector<ParamChange> &changes, std::string &error);

// A loaded, started instance and what a host keeps for it between blocks.
class PluginHost {
public:
  // Loads library (a bundle or its .so), creates and connects both halves and
  // starts processing at 48 kHz with blockFrames as the largest block.
  // nullptr with error set on any refusal.
  static std::unique_ptr<PluginHost> open(const std::string &library, const char *hostName,
                                          int32_t blockFrames, std::string &error);
  // The same in its phases, for timing them one by one: dlopen, ModuleEntry
  // and GetPluginFactory; then both halves created, initialised and
  // connected; then setupProcessing, setActive and setProcessing.
  static std::unique_ptr<PluginHost> load(const std::string &library, const char *hostName,
                                          std::string &error);
  bool create(std::string &error);
  bool start(int32_t blockFrames, std::string &error);
  // Stops, disconnects, terminates and releases both halves, calls ModuleExit
  // and closes the library (also done by the destructor).
  ~PluginHost();

  // The next block's input parameter changes (cleared after every block).
  void queueChanges(std::span<const ParamChange> changes);
  // The transport's tempo from the next block on (120 BPM until set).
  void setTempo(double bpm) { transport_.tempo = bpm; }

  // One block: the host hands its lists and its playing transport (4/4,
  // with what the processor asked for) to process and clears the lists
  // afterwards for the next one. Every 1/30 s of audio the controller's
  // transport poll follows the block, as the controller's cadence sends it.
  // Returns the output events, or nullptr when process failed.
  const std::vector<Steinberg::Vst::Event> *run(int32_t frames);

private:
  PluginHost() = default;

  std::unique_ptr<probe::Vst3Module> module_;
  std::unique_ptr<probe::PluginInstance> plugin_;
  Steinberg::IPtr<probe::HostApplication> host_;
  Steinberg::IPtr<probe::ParameterChanges> inputChanges_;
  Steinberg::IPtr<probe::ParameterChanges> outputChanges_;
  Steinberg::IPtr<probe::EventList> inputEvents_;
  Steinberg::IPtr<probe::EventList> outputEvents_;
  probe::HostTransport transport_;
  int64_t nextPollFrame_ = 0;
};

} // namespace norva::bench
