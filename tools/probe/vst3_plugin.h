// One plug-in instance as a host sees it: the audio processor component and
// its edit controller, created from a loaded module, initialised with the
// host's context and connected through two proxies.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"

namespace norva::probe {

class PluginInstance {
public:
  // Creates the first class of category "Audio Module Class" and, unless
  // withController is false, the controller it names, initialises both with
  // host and connects them. Returns null with error on any refusal.
  static std::unique_ptr<PluginInstance> create(Vst3Module &module, HostApplication *host,
                                                std::string &error, bool withController = true);
  ~PluginInstance();
  PluginInstance(const PluginInstance &) = delete;
  PluginInstance &operator=(const PluginInstance &) = delete;

  Steinberg::Vst::IComponent *component() const { return component_; }
  Steinberg::Vst::IAudioProcessor *processor() const { return processor_; }
  // Null when created without a controller.
  Steinberg::Vst::IEditController *controller() const { return controller_; }
  // Messages from the processor to the controller, and back.
  ConnectionProxy *toController() const { return toController_; }
  ConnectionProxy *toProcessor() const { return toProcessor_; }

  // setupProcessing (realtime, 32-bit), setActive(true), setProcessing(true).
  // Before activating, asks what the processor needs of the ProcessContext.
  bool start(double sampleRate, int32_t maxBlockFrames, std::string &error);
  // The processor's IProcessContextRequirements flags as asked at start; 0
  // when it does not answer the interface.
  Steinberg::uint32 contextRequirements() const { return contextRequirements_; }
  // setProcessing(false) and setActive(false), when started.
  void stop();
  bool active() const { return active_; }

  // The processor's getState bytes.
  bool saveState(std::vector<uint8_t> &bytes, std::string &error);
  // setState on the processor, then setComponentState on the controller.
  bool loadState(const std::vector<uint8_t> &bytes, std::string &error);
  // The controller takes the processor's current state (setComponentState).
  bool syncController(std::string &error);

  // How a host takes an instance down.
  enum class Teardown {
    ControllerFirst,    // disconnect, then terminate and release the controller first
    ProcessorFirst,     // disconnect, then terminate and release the processor first
    TerminateConnected, // terminate both while still connected, then release
    WithoutTerminate,   // disconnect and release without terminate
  };
  // Stops, disconnects, terminates and releases both halves. Called by the
  // destructor when not yet done.
  void shutdown(Teardown order = Teardown::ControllerFirst);

private:
  PluginInstance() = default;

  Steinberg::Vst::IComponent *component_ = nullptr;
  Steinberg::Vst::IAudioProcessor *processor_ = nullptr;
  Steinberg::Vst::IEditController *controller_ = nullptr;
  ConnectionProxy *toController_ = nullptr;
  ConnectionProxy *toProcessor_ = nullptr;
  bool componentInitialized_ = false;
  bool controllerInitialized_ = false;
  bool active_ = false;
  bool processing_ = false;
  Steinberg::uint32 contextRequirements_ = 0;
};

// The first result code name for messages ("kResultFalse", "kNotImplemented").
std::string resultName(Steinberg::tresult result);

} // namespace norva::probe
