// The diagnostic bridge's exports and the register of live controllers that
// lets them tell this module's controllers from anything else.
#include "controller/diagnostic_bridge.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controller/cadence_clock.h"
#include "controller/norva_controller.h"
#include "diagnostics/diagnostic_reports.h"
#include "identity/diagnostic_bridge.h"
#include "vst3/abi/iplugview.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// Controllers are made and destroyed on the host's user-interface thread,
// but a host may make instances on more than one thread: the register is
// locked. No audio thread comes here.
struct LiveControllers {
  std::mutex lock;
  std::vector<const NorvaController *> all;
};

LiveControllers &liveControllers() {
  static LiveControllers live;
  return live;
}

// The clocks norvaStartCadenceClock handed out: a stop with anything else
// is ignored, not freed.
struct ExportedClocks {
  std::mutex lock;
  std::vector<void *> all;
};

ExportedClocks &exportedClocks() {
  static ExportedClocks exported;
  return exported;
}

} // namespace

void enterLiveController(NorvaController &controller) {
  LiveControllers &live = liveControllers();
  const std::lock_guard guard(live.lock);
  live.all.push_back(&controller);
}

void leaveLiveController(NorvaController &controller) {
  LiveControllers &live = liveControllers();
  const std::lock_guard guard(live.lock);
  std::erase(live.all, &controller);
}

NorvaController *liveControllerOf(FUnknown *object) {
  if (object == nullptr) return nullptr;
  IEditController *asked = nullptr;
  if (object->queryInterface(IEditController::iid, reinterpret_cast<void **>(&asked)) != kResultOk ||
      asked == nullptr) {
    return nullptr;
  }
  asked->release();
  // Only addresses are compared: nothing of a foreign object is read.
  LiveControllers &live = liveControllers();
  const std::lock_guard guard(live.lock);
  for (const NorvaController *controller : live.all) {
    if (static_cast<const IEditController *>(controller) == asked) return const_cast<NorvaController *>(controller);
  }
  return nullptr;
}

} // namespace norva

using norva::liveControllerOf;
using norva::NorvaController;

int norvaDiagnosticBridgeAbiVersion() { return norva::kDiagnosticBridgeAbiVersion; }

int norvaInstallDiagnosticBridgeSink(Steinberg::FUnknown *object, norva::DiagnosticBridgeSink sink, void *context) {
  NorvaController *controller = liveControllerOf(object);
  if (controller == nullptr) return 0;
  if (sink == nullptr) {
    controller->setBridgeSink(nullptr);
  } else {
    controller->setBridgeSink([sink, context](const std::string &text) { sink(context, text.c_str(), text.size()); });
  }
  return 1;
}

int norvaDeliverDiagnosticBridgeMessage(Steinberg::FUnknown *object, const char *json, size_t length) {
  NorvaController *controller = liveControllerOf(object);
  if (controller == nullptr || json == nullptr) return 0;
  controller->handleBridgeMessage(json, length);
  return 1;
}

int norvaTickDiagnosticCadence(Steinberg::FUnknown *object) {
  NorvaController *controller = liveControllerOf(object);
  if (controller == nullptr) return 0;
  controller->tickCadence();
  return 1;
}

const char *norvaPluginUiRootForDiagnostics() {
  thread_local std::string root;
  root = norva::pluginUiRoot();
  return root.c_str();
}

void *norvaStartCadenceClock(void (*callback)(void *), void *context, double intervalSeconds) {
  using namespace norva;
  const Steinberg::uint64 intervalMs = cadenceIntervalMs(intervalSeconds);
  if (callback == nullptr || intervalMs == 0) return nullptr;
  Steinberg::Linux::IRunLoop *runLoop = currentHostRunLoop();
  if (runLoop == nullptr) return nullptr;
  auto clock = std::make_unique<CadenceClock>();
  const bool started = clock->start(runLoop, intervalMs, [callback, context] { callback(context); });
  runLoop->release();
  if (!started) return nullptr;
  ExportedClocks &exported = exportedClocks();
  const std::lock_guard guard(exported.lock);
  exported.all.push_back(clock.get());
  return clock.release();
}

void norvaStopCadenceClock(void *handle) {
  using namespace norva;
  if (handle == nullptr) return;
  {
    ExportedClocks &exported = exportedClocks();
    const std::lock_guard guard(exported.lock);
    if (std::erase(exported.all, handle) == 0) return;
  }
  delete static_cast<CadenceClock *>(handle);
}
