// norva-probe validate: buses and processing set-up.
#include "validate_checks.h"

#include <cmath>

namespace norva::probe::validation {

// --- buses ------------------------------------------------------------------------------

namespace {

Reason eventBus(IComponent *component, BusDirection direction, const char *name) {
  const std::string which = direction == kInput ? "event input" : "event output";
  BusInfo bus{};
  const tresult result = component->getBusInfo(kEvent, direction, 0, bus);
  if (result != kResultOk) return which + ": getBusInfo returned " + resultName(result);
  if (bus.mediaType != kEvent || bus.direction != direction) return which + ": wrong media or direction";
  if (toAscii(bus.name, 128) != name) return which + " named " + quoted(toAscii(bus.name, 128));
  if (bus.busType != kMain) return which + " is not a main bus";
  if ((bus.flags & BusInfo::kDefaultActive) == 0) return which + " is not active by default";
  if (bus.channelCount < 1 || bus.channelCount > 16)
    return which + " has " + std::to_string(bus.channelCount) + " channels";
  if (component->getBusInfo(kEvent, direction, 1, bus) == kResultOk) return which + " 1 exists";
  return kPass;
}

} // namespace

Reason buses(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error, false);
  if (plugin == nullptr) return error;
  IComponent *component = plugin->component();
  const int32 audioIn = component->getBusCount(kAudio, kInput);
  const int32 audioOut = component->getBusCount(kAudio, kOutput);
  if (audioIn != 0 || audioOut != 0)
    return std::to_string(audioIn) + " audio inputs and " + std::to_string(audioOut) + " audio outputs";
  if (component->getBusCount(kEvent, kInput) != 1 || component->getBusCount(kEvent, kOutput) != 1)
    return "event buses: " + std::to_string(component->getBusCount(kEvent, kInput)) + " in, " +
           std::to_string(component->getBusCount(kEvent, kOutput)) + " out";
  if (Reason r = eventBus(component, kInput, "Event In"); !r.empty()) return r;
  if (Reason r = eventBus(component, kOutput, "Event Out"); !r.empty()) return r;
  BusInfo bus{};
  if (component->getBusInfo(kAudio, kOutput, 0, bus) == kResultOk) return "audio output 0 answered";
  if (component->activateBus(kEvent, kInput, 0, true) != kResultOk) return "activating the event input failed";
  if (component->activateBus(kEvent, kOutput, 0, true) != kResultOk) return "activating the event output failed";
  if (component->activateBus(kAudio, kOutput, 0, true) == kResultOk) return "an audio output was activated";
  if (component->activateBus(kEvent, kOutput, 1, true) == kResultOk) return "event output 1 was activated";
  return kPass;
}

// --- processing set-up --------------------------------------------------------------------

Reason sampleSizes(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IAudioProcessor *processor = plugin->processor();
  if (processor->canProcessSampleSize(kSample32) != kResultTrue) return "32-bit samples refused";
  if (processor->canProcessSampleSize(kSample64) != kResultFalse) return "64-bit samples not refused";
  ProcessSetup setup{kRealtime, kSample64, kBlock, kRate};
  if (processor->setupProcessing(setup) == kResultOk) return "a 64-bit set-up was accepted";
  return kPass;
}

Reason busArrangements(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IAudioProcessor *processor = plugin->processor();
  SpeakerArrangement stereo = SpeakerArr::kStereo;
  if (processor->setBusArrangements(nullptr, 0, &stereo, 1) != kResultFalse)
    return "one stereo output was not refused";
  if (processor->setBusArrangements(&stereo, 1, nullptr, 0) != kResultFalse)
    return "one stereo input was not refused";
  if (processor->setBusArrangements(&stereo, 1, &stereo, 1) != kResultFalse)
    return "stereo in and out were not refused";
  plugin->toController()->clearLog();
  if (processor->setBusArrangements(nullptr, 0, nullptr, 0) != kResultOk)
    return "the empty arrangement was refused";
  int64_t size = -1;
  if (!sawMessage(plugin->toController()->log(), "norva.diag.hostFacts", &size))
    return "no host facts reached the controller after the accepted arrangement";
  if (size != 1312) return "host facts of " + std::to_string(size) + " bytes (expected 1312)";
  return kPass;
}

Reason latency(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    ProcessSetup setup{kRealtime, kSample32, kBlock, rate};
    if (plugin->processor()->setupProcessing(setup) != kResultOk)
      return "set-up at " + number(rate) + " Hz refused";
    if (plugin->component()->setActive(true) != kResultOk) return "activation at " + number(rate) + " Hz refused";
    const uint32 samples = plugin->processor()->getLatencySamples();
    plugin->component()->setActive(false);
    if (samples != 0) return std::to_string(samples) + " samples of latency at " + number(rate) + " Hz";
  }
  return kPass;
}

Reason setupRange(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IAudioProcessor *processor = plugin->processor();
  IComponent *component = plugin->component();
  for (double rate : {22050.0, 44100.0, 48000.0, 96000.0, 192000.0}) {
    for (int32 block : {1, 512, 16384}) {
      const std::string at = std::to_string(block) + "-frame blocks at " + number(rate) + " Hz: ";
      for (int32 mode : {kRealtime, kOffline}) {
        ProcessSetup setup{mode, kSample32, block, rate};
        if (processor->setupProcessing(setup) != kResultOk) return at + "set-up refused";
      }
      if (component->setActive(true) != kResultOk) return at + "activation refused";
      Block b;
      b.note(block - 1, 64, 1.0f);
      const tresult result = b.run(processor, block);
      component->setActive(false);
      if (result != kResultOk) return at + "process returned " + resultName(result);
      if (Reason r = checkOutput(b.out->events(), block); !r.empty()) return at + r;
    }
  }
  return kPass;
}

Reason setupLimits(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IAudioProcessor *processor = plugin->processor();
  struct Bad {
    int32 block;
    double rate;
  } bad[] = {{16385, kRate}, {0, kRate}, {-1, kRate}, {kBlock, 0.0}, {kBlock, -44100.0},
             {kBlock, std::nan("")}, {kBlock, INFINITY}};
  for (const Bad &b : bad) {
    const std::string at = std::to_string(b.block) + "-frame blocks at " + number(b.rate) + " Hz";
    plugin->toController()->clearLog();
    ProcessSetup setup{kRealtime, kSample32, b.block, b.rate};
    if (processor->setupProcessing(setup) != kResultFalse) return at + " were not refused";
    if (!sawMessage(plugin->toController()->log(), "norva.runtimeDiagnostics"))
      return at + ": no runtime report reached the controller";
    ProcessSetup good{kRealtime, kSample32, kBlock, kRate};
    if (processor->setupProcessing(good) != kResultOk) return "a good set-up after " + at + " was refused";
  }
  return kPass;
}

} // namespace norva::probe::validation
