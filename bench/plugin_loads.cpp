#include "plugin_loads.h"

#include <cmath>
#include <cstring>

#include "controller/cadence_clock.h"
#include "diagnostics/component_messages.h"

namespace norva::bench {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Resolution indices in the catalogue's order (half notes first).
constexpr double kThirtySeconds = 4, kSixtyFourths = 5;
constexpr double kAllStepsVelocity = 100;

constexpr PlainSetting kThirtySecondsAt208[] = {{kParamBpm, 208}, {kParamResolution, kThirtySeconds}};
constexpr PlainSetting kSixtyFourthsAt208[] = {{kParamBpm, 208}, {kParamResolution, kSixtyFourths}};
constexpr PlainSetting kBusiest[] = {
    {kParamBpm, 300}, {kParamResolution, kSixtyFourths}, {kParamShuffle, 0.75}};
constexpr PlainSetting kStopped[] = {{kParamRun, 0}};

// Running, 120 BPM and sixteenths are the plug-in's defaults: those loads
// send no transport changes, and the factory load sends none at all.
// The same six with Follow host on: the steps fall on the host's grid at the
// same tempo, within the same budgets.
constexpr PluginLoad kLoads[] = {
    {"factory", "factory pattern, 16ths at 120 (the defaults)", 128, 200, {}, false},
    {"all-16ths-120", "all steps on, 16ths at 120", 512, 400, {}, true},
    {"all-32nds-208", "all steps on, 32nds at 208 BPM", 512, 550, kThirtySecondsAt208, true},
    {"all-64ths-208", "all steps on, 64ths at 208 BPM", 512, 900, kSixtyFourthsAt208, true},
    {"all-64ths-300-shuffle", "300 BPM, 64ths, shuffle 0.75, all steps on", 512, 1200, kBusiest, true},
    {"stopped", "stopped (Run 0)", 512, 120, kStopped, false},
    {"factory-follow", "Follow host: factory pattern, 16ths at 120", 128, 200, {}, false, true},
    {"all-16ths-120-follow", "Follow host: all steps on, 16ths at 120", 512, 400, {}, true, true},
    {"all-32nds-208-follow", "Follow host: all steps on, 32nds at 208 BPM", 512, 550, kThirtySecondsAt208, true,
     true},
    {"all-64ths-208-follow", "Follow host: all steps on, 64ths at 208 BPM", 512, 900, kSixtyFourthsAt208, true,
     true},
    {"all-64ths-300-shuffle-follow", "Follow host: 300 BPM, 64ths, shuffle 0.75, all steps on", 512, 1200,
     kBusiest, true, true},
    {"stopped-follow", "Follow host: stopped (Run 0)", 512, 120, kStopped, false, true},
};

constexpr double kHostTempo = 120;

} // namespace

std::span<const PluginLoad> pluginLoads() { return kLoads; }

double hostTempo(const PluginLoad &load) {
  if (load.followHost)
    for (const PlainSetting &setting : load.settings)
      if (setting.id == kParamBpm) return setting.plain;
  return kHostTempo;
}

const PluginLoad *findPluginLoad(const char *name) {
  if (name == nullptr) return nullptr;
  for (const PluginLoad &load : kLoads) {
    if (std::strcmp(load.name, name) == 0) return &load;
  }
  return nullptr;
}

bool loadChanges(const PluginLoad &load, std::vector<ParamChange> &changes, std::string &error) {
  changes.clear();
  auto add = [&](uint32_t id, double plain) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    const double normalized = norva_param_normalize(&row, plain);
    if (std::fabs(paramToPlain(row, normalized) - plain) > 1e-9) {
      error = std::string(row.key) + " cannot take " + std::to_string(plain);
      return false;
    }
    changes.push_back({id, normalized});
    return true;
  };
  for (const PlainSetting &setting : load.settings) {
    if (setting.id >= kParamCount || !add(setting.id, setting.plain)) {
      if (error.empty()) error = "no parameter " + std::to_string(setting.id);
      return false;
    }
  }
  if (load.followHost && !add(kParamFollowHost, 1)) return false;
  if (load.allStepsOn) {
    for (uint32_t k = 0; k < kStepVelocityParamCount; ++k) {
      if (!add(kParamFirstStepVelocity + k, kAllStepsVelocity)) return false;
    }
  }
  return true;
}

std::unique_ptr<PluginHost> PluginHost::open(const std::string &library, const char *hostName,
                                             int32_t blockFrames, std::string &error) {
  std::unique_ptr<PluginHost> host = load(library, hostName, error);
  if (host == nullptr || !host->create(error) || !host->start(blockFrames, error)) return nullptr;
  return host;
}

std::unique_ptr<PluginHost> PluginHost::load(const std::string &library, const char *hostName,
                                             std::string &error) {
  std::unique_ptr<PluginHost> host(new PluginHost());
  host->host_ = owned(new probe::HostApplication(hostName));
  host->module_ = probe::Vst3Module::load(library, error);
  if (host->module_ == nullptr) return nullptr;
  host->inputChanges_ = owned(new probe::ParameterChanges());
  host->outputChanges_ = owned(new probe::ParameterChanges());
  host->inputEvents_ = owned(new probe::EventList(512));
  host->outputEvents_ = owned(new probe::EventList(4096));
  return host;
}

bool PluginHost::create(std::string &error) {
  plugin_ = probe::PluginInstance::create(*module_, host_, error);
  return plugin_ != nullptr;
}

bool PluginHost::start(int32_t blockFrames, std::string &error) {
  if (plugin_ == nullptr || !plugin_->start(kPluginSampleRate, blockFrames, error)) return false;
  transport_.sampleRate = kPluginSampleRate;
  transport_.requirements = plugin_->contextRequirements();
  return true;
}

PluginHost::~PluginHost() {
  if (plugin_ != nullptr) plugin_->shutdown();
  plugin_.reset();
  module_.reset();
}

void PluginHost::queueChanges(std::span<const ParamChange> changes) {
  for (const ParamChange &change : changes) inputChanges_->add(change.id, 0, change.normalized);
}

const std::vector<Event> *PluginHost::run(int32_t frames) {
  outputChanges_->clear();
  outputEvents_->clear();

  ProcessContext context = transport_.context();

  ProcessData data;
  data.processMode = kRealtime;
  data.symbolicSampleSize = kSample32;
  data.numSamples = frames;
  data.inputParameterChanges = inputChanges_;
  data.outputParameterChanges = outputChanges_;
  data.inputEvents = inputEvents_;
  data.outputEvents = outputEvents_;
  data.processContext = &context;

  const tresult result = plugin_->processor()->process(data);
  inputChanges_->clear();
  inputEvents_->clear();
  if (result != kResultOk) return nullptr;
  transport_.advance(frames);
  if (transport_.continuousFrame >= nextPollFrame_) {
    nextPollFrame_ += int64_t(kPluginSampleRate / kCadenceRateHz);
    IPtr<probe::HostMessage> poll = owned(new probe::HostMessage());
    poll->setMessageID(kTransportPollMessage);
    poll->getAttributes()->setInt(kTransportPollResetAttribute, 0);
    plugin_->toProcessor()->notify(poll);
    // The proxies log what crosses them; the bench keeps none of it.
    plugin_->toProcessor()->clearLog();
    plugin_->toController()->clearLog();
  }
  return &outputEvents_->events();
}

} // namespace norva::bench
