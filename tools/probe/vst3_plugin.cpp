#include "vst3_plugin.h"

namespace norva::probe {

using namespace Steinberg;
using namespace Steinberg::Vst;

std::string resultName(tresult result) {
  switch (result) {
  case kResultOk: return "kResultOk";
  case kResultFalse: return "kResultFalse";
  case kNoInterface: return "kNoInterface";
  case kInvalidArgument: return "kInvalidArgument";
  case kNotImplemented: return "kNotImplemented";
  case kInternalError: return "kInternalError";
  case kNotInitialized: return "kNotInitialized";
  case kOutOfMemory: return "kOutOfMemory";
  default: return "result " + std::to_string(result);
  }
}

std::unique_ptr<PluginInstance> PluginInstance::create(Vst3Module &module, HostApplication *host,
                                                       std::string &error, bool withController) {
  std::unique_ptr<PluginInstance> plugin(new PluginInstance());
  PClassInfo info;
  if (module.findClass(kVstAudioEffectClass, info) < 0) {
    error = "the factory has no class of category \"" kVstAudioEffectClass "\"";
    return nullptr;
  }
  tresult result = module.factory()->createInstance(
      info.cid, IComponent::iid, reinterpret_cast<void **>(&plugin->component_));
  if (result != kResultOk || plugin->component_ == nullptr) {
    plugin->component_ = nullptr;
    error = "the factory did not create the processor (" + resultName(result) + ")";
    return nullptr;
  }
  result = plugin->component_->queryInterface(IAudioProcessor::iid,
                                              reinterpret_cast<void **>(&plugin->processor_));
  if (result != kResultOk || plugin->processor_ == nullptr) {
    plugin->processor_ = nullptr;
    error = "the processor does not answer IAudioProcessor";
    return nullptr;
  }
  result = plugin->component_->initialize(static_cast<IHostApplication *>(host));
  if (result != kResultOk) {
    error = "the processor's initialize failed (" + resultName(result) + ")";
    return nullptr;
  }
  plugin->componentInitialized_ = true;
  if (!withController) return plugin;

  TUID controllerId = {};
  result = plugin->component_->getControllerClassId(controllerId);
  if (result != kResultOk || !uidIsValid(uidFromTUID(controllerId))) {
    error = "the processor names no controller class";
    return nullptr;
  }
  result = module.factory()->createInstance(controllerId, IEditController::iid,
                                            reinterpret_cast<void **>(&plugin->controller_));
  if (result != kResultOk || plugin->controller_ == nullptr) {
    plugin->controller_ = nullptr;
    error = "the factory did not create the controller " + uidHex(controllerId) + " (" +
            resultName(result) + ")";
    return nullptr;
  }
  result = plugin->controller_->initialize(static_cast<IHostApplication *>(host));
  if (result != kResultOk) {
    error = "the controller's initialize failed (" + resultName(result) + ")";
    return nullptr;
  }
  plugin->controllerInitialized_ = true;

  FUnknownPtr<IConnectionPoint> processorPoint(plugin->component_);
  FUnknownPtr<IConnectionPoint> controllerPoint(plugin->controller_);
  if (!processorPoint || !controllerPoint) {
    error = "processor and controller do not both answer IConnectionPoint";
    return nullptr;
  }
  plugin->toController_ = new ConnectionProxy(processorPoint);
  plugin->toProcessor_ = new ConnectionProxy(controllerPoint);
  if ((result = plugin->toController_->connect(controllerPoint)) != kResultOk ||
      (result = plugin->toProcessor_->connect(processorPoint)) != kResultOk) {
    error = "connecting processor and controller failed (" + resultName(result) + ")";
    return nullptr;
  }
  return plugin;
}

PluginInstance::~PluginInstance() { shutdown(); }

bool PluginInstance::start(double sampleRate, int32_t maxBlockFrames, std::string &error) {
  if (processor_->canProcessSampleSize(kSample32) != kResultTrue) {
    error = "the processor cannot process 32-bit samples";
    return false;
  }
  // An event-only processor accepts the empty arrangement; its answer is not
  // needed to go on.
  processor_->setBusArrangements(nullptr, 0, nullptr, 0);
  for (BusDirection direction : {kInput, kOutput}) {
    const int32 buses = component_->getBusCount(kEvent, direction);
    for (int32 i = 0; i < buses; ++i) component_->activateBus(kEvent, direction, i, true);
  }
  ProcessSetup setup{kRealtime, kSample32, maxBlockFrames, sampleRate};
  tresult result = processor_->setupProcessing(setup);
  if (result != kResultOk) {
    error = "the processor refused the set-up (" + std::to_string(maxBlockFrames) +
            "-frame blocks at " + std::to_string(static_cast<long long>(sampleRate)) + " Hz: " +
            resultName(result) + ")";
    return false;
  }
  FUnknownPtr<IProcessContextRequirements> needs(processor_);
  contextRequirements_ = needs ? needs->getProcessContextRequirements() : 0;
  result = component_->setActive(true);
  if (result != kResultOk) {
    error = "the processor refused to activate (" + resultName(result) + ")";
    return false;
  }
  active_ = true;
  // setProcessing is optional for a processor: kNotImplemented is an answer.
  result = processor_->setProcessing(true);
  if (result != kResultOk && result != kNotImplemented) {
    error = "the processor refused to start processing (" + resultName(result) + ")";
    return false;
  }
  processing_ = true;
  return true;
}

void PluginInstance::stop() {
  if (processing_) processor_->setProcessing(false);
  processing_ = false;
  if (active_) component_->setActive(false);
  active_ = false;
}

bool PluginInstance::saveState(std::vector<uint8_t> &bytes, std::string &error) {
  IPtr<MemoryStream> stream = owned(new MemoryStream());
  const tresult result = component_->getState(stream);
  if (result != kResultOk) {
    error = "the processor's getState failed (" + resultName(result) + ")";
    return false;
  }
  bytes = stream->bytes();
  return true;
}

bool PluginInstance::loadState(const std::vector<uint8_t> &bytes, std::string &error) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(bytes));
  tresult result = component_->setState(stream);
  if (result != kResultOk) {
    error = "the processor refused the state (" + resultName(result) + ")";
    return false;
  }
  if (controller_ == nullptr) return true;
  stream->rewind();
  result = controller_->setComponentState(stream);
  if (result != kResultOk) {
    error = "the controller refused the processor's state (" + resultName(result) + ")";
    return false;
  }
  return true;
}

bool PluginInstance::syncController(std::string &error) {
  if (controller_ == nullptr) return true;
  std::vector<uint8_t> bytes;
  if (!saveState(bytes, error)) return false;
  IPtr<MemoryStream> stream = owned(new MemoryStream(bytes));
  const tresult result = controller_->setComponentState(stream);
  if (result != kResultOk) {
    error = "the controller refused the processor's state (" + resultName(result) + ")";
    return false;
  }
  return true;
}

void PluginInstance::shutdown(Teardown order) {
  if (component_ == nullptr && controller_ == nullptr) return;
  if (component_ != nullptr) stop();
  if (order == Teardown::TerminateConnected) {
    // Each half lets go of its peer in terminate.
    if (componentInitialized_) component_->terminate();
    if (controllerInitialized_ && controller_ != nullptr) controller_->terminate();
    componentInitialized_ = controllerInitialized_ = false;
  }
  auto dropProxy = [](ConnectionProxy *&proxy, FUnknown *destination) {
    if (proxy == nullptr) return;
    if (proxy->connected()) {
      FUnknownPtr<IConnectionPoint> point(destination);
      proxy->disconnect(point);
    }
    proxy->release();
    proxy = nullptr;
  };
  dropProxy(toController_, controller_);
  dropProxy(toProcessor_, component_);
  if (order == Teardown::WithoutTerminate) componentInitialized_ = controllerInitialized_ = false;

  auto closeController = [this] {
    if (controller_ == nullptr) return;
    if (controllerInitialized_) controller_->terminate();
    controller_->release();
    controller_ = nullptr;
  };
  auto closeProcessor = [this] {
    if (component_ == nullptr) return;
    if (componentInitialized_) component_->terminate();
    if (processor_ != nullptr) processor_->release();
    processor_ = nullptr;
    component_->release();
    component_ = nullptr;
  };
  if (order == Teardown::ProcessorFirst) {
    closeProcessor();
    closeController();
  } else {
    closeController();
    closeProcessor();
  }
}

} // namespace norva::probe
