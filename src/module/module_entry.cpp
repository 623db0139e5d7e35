// The module's exported entry points and its class factory.
//
// Hosts on Linux call ModuleEntry/ModuleExit around using the module; the
// bundle convention's bundleEntry/bundleExit are exported too with the same
// reference counting, so a host of either kind finds what it looks for.
#include <dlfcn.h>

#include <cstring>
#include <mutex>

#include "controller/norva_controller.h"
#include "editor/webview_plug_view.h"
#include "editor/webview_spare.h"
#include "identity/plugin_ids.h"
#include "processor/norva_processor.h"
#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/abi/ivsteditcontroller.h"
#include "vst3/abi/vsttypes.h"
#include "vst3/sdk/pluginfactory.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr const char *kVendorUrl = "https://norva.music";
constexpr const char *kVendorEmail = "mailto:support@norva.music";

// Module reference counting, one counter per entry convention.
std::mutex gModuleMutex;
int gModuleRefs = 0;
void *gModuleHandle = nullptr;
int gBundleRefs = 0;
void *gBundleHandle = nullptr;
char gModulePath[2048] = {};

// Finds this shared object's own path, for resources next to it.
void rememberModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&rememberModulePath), &info) != 0 && info.dli_fname != nullptr) {
    std::strncpy(gModulePath, info.dli_fname, sizeof gModulePath - 1);
  }
}

// Module initialisation: remember where the module is. Both succeed.
bool initModule() {
  rememberModulePath();
  return true;
}
// The parked editor program leaves with the module, while the host that
// watches it is still there.
bool deinitModule() {
  norva::closeParkedWebView();
  return true;
}

const PClassInfo2 &processorClassInfo() {
  static const PClassInfo2 info =
      makeClassInfo2(norva::kProcessorUid.toTUID(), PClassInfo::kManyInstances, kVstAudioEffectClass,
                     norva::kPluginName, kDistributable, "Fx", "", norva::kPluginVersion, kVstVersionString);
  return info;
}

const PClassInfo2 &controllerClassInfo() {
  static const PClassInfo2 info =
      makeClassInfo2(norva::kControllerUid.toTUID(), PClassInfo::kManyInstances, kVstComponentControllerClass,
                     "Tindrel Controller", 0, "", "", norva::kPluginVersion, kVstVersionString);
  return info;
}

} // namespace

namespace norva {

const char *modulePath() { return gModulePath; }

} // namespace norva

extern "C" {

SMTG_EXPORT_SYMBOL IPluginFactory *PLUGIN_API GetPluginFactory() {
  if (gPluginFactory != nullptr) {
    gPluginFactory->addRef();
    return gPluginFactory;
  }
  static const PFactoryInfo factoryInfo =
      makeFactoryInfo(norva::kVendorName, kVendorUrl, kVendorEmail, PFactoryInfo::kUnicode);
  // The controller's editor comes from the editor library linked here.
  norva::NorvaController::setEditorViewFactory(norva::createWebViewEditor);
  gPluginFactory = new CPluginFactory(factoryInfo);
  gPluginFactory->registerClass(&processorClassInfo(), norva::NorvaProcessor::createInstance);
  gPluginFactory->registerClass(&controllerClassInfo(), norva::NorvaController::createInstance);
  return gPluginFactory;
}

SMTG_EXPORT_SYMBOL bool ModuleEntry(void *sharedLibraryHandle) {
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (++gModuleRefs > 1) return true;
  gModuleHandle = sharedLibraryHandle;
  return initModule();
}

SMTG_EXPORT_SYMBOL bool ModuleExit() {
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (gModuleRefs <= 0) return false;
  if (--gModuleRefs == 0) {
    gModuleHandle = nullptr;
    return deinitModule();
  }
  return true;
}

SMTG_EXPORT_SYMBOL bool bundleEntry(void *bundleRef) {
  if (bundleRef == nullptr) return true;
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (++gBundleRefs > 1) return true;
  gBundleHandle = bundleRef;
  return initModule();
}

SMTG_EXPORT_SYMBOL bool bundleExit() {
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (gBundleRefs <= 0) return true;
  if (--gBundleRefs == 0) {
    gBundleHandle = nullptr;
    return deinitModule();
  }
  return true;
}

} // extern "C"
