#include "plugin_info.h"

#include <cstdio>
#include <cstring>

#include "probe_options.h"
#include "vst3_host.h"
#include "vst3_plugin.h"
#include "vst3/abi/ivstunits.h"

namespace norva::probe {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// The fixed-size 8-bit fields of the factory records.
template <size_t N> std::string field(const char8 (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

std::string quote(const std::string &text) { return "\"" + text + "\""; }

// Names of the set bits of a flag word, "(a, b)", or "" when none is known.
std::string flagNames(uint32_t flags, std::initializer_list<std::pair<uint32_t, const char *>> names) {
  std::string text;
  for (const auto &[bit, name] : names) {
    if ((flags & bit) == 0) continue;
    text += text.empty() ? " (" : ", ";
    text += name;
  }
  return text.empty() ? text : text + ")";
}

void describeFactory(const Vst3Module &module, std::string &out) {
  PFactoryInfo info;
  const tresult result = module.factory()->getFactoryInfo(&info);
  out += "module: " + module.libraryPath() + "\n";
  out += "factory:\n";
  if (result != kResultOk) {
    out += "  (getFactoryInfo failed: " + resultName(result) + ")\n";
    return;
  }
  out += "  vendor: " + field(info.vendor) + "\n";
  out += "  url: " + field(info.url) + "\n";
  out += "  email: " + field(info.email) + "\n";
  out += "  flags: " + hex(static_cast<uint32_t>(info.flags)) +
         flagNames(static_cast<uint32_t>(info.flags),
                   {{PFactoryInfo::kClassesDiscardable, "classes discardable"},
                    {PFactoryInfo::kLicenseCheck, "license check"},
                    {PFactoryInfo::kComponentNonDiscardable, "component non-discardable"},
                    {PFactoryInfo::kUnicode, "unicode"}}) +
         "\n";
}

void describeClasses(const Vst3Module &module, std::string &out) {
  const int32 count = module.factory()->countClasses();
  out += "classes: " + std::to_string(count) + "\n";
  for (int32 i = 0; i < count; ++i) {
    out += "  class " + std::to_string(i) + ":\n";
    PClassInfo2 info2;
    if (module.factory2() != nullptr && module.factory2()->getClassInfo2(i, &info2) == kResultOk) {
      out += "    category: " + field(info2.category) + "\n";
      out += "    name: " + field(info2.name) + "\n";
      out += "    cid: " + uidHex(info2.cid) + "\n";
      const std::string sub = field(info2.subCategories);
      out += "    sub-categories: " + (sub.empty() ? std::string("(none)") : sub) + "\n";
      out += "    class flags: " + hex(info2.classFlags) +
             flagNames(info2.classFlags, {{kDistributable, "distributable"},
                                          {kSimpleModeSupported, "simple mode"}}) +
             "\n";
      out += "    cardinality: " +
             (info2.cardinality == PClassInfo::kManyInstances ? std::string("many instances")
                                                              : std::to_string(info2.cardinality)) +
             "\n";
      const std::string vendor = field(info2.vendor);
      out += "    vendor: " + (vendor.empty() ? std::string("(the factory's)") : vendor) + "\n";
      out += "    version: " + field(info2.version) + "\n";
      out += "    sdk version: " + field(info2.sdkVersion) + "\n";
      continue;
    }
    PClassInfo info;
    if (module.factory()->getClassInfo(i, &info) != kResultOk) {
      out += "    (no class information)\n";
      continue;
    }
    out += "    category: " + field(info.category) + "\n";
    out += "    name: " + field(info.name) + "\n";
    out += "    cid: " + uidHex(info.cid) + "\n";
  }
}

const char *mediaName(MediaType type) { return type == kAudio ? "audio" : "event"; }
const char *directionName(BusDirection direction) { return direction == kInput ? "input" : "output"; }

void describeBuses(IComponent *component, std::string &out) {
  out += "processor buses:\n";
  for (MediaType type : {kAudio, kEvent}) {
    for (BusDirection direction : {kInput, kOutput}) {
      const int32 count = component->getBusCount(type, direction);
      out += std::string("  ") + mediaName(type) + " " + directionName(direction) + "s: " +
             std::to_string(count) + "\n";
      for (int32 i = 0; i < count; ++i) {
        BusInfo bus{};
        const tresult result = component->getBusInfo(type, direction, i, bus);
        out += "    " + std::to_string(i) + ": ";
        if (result != kResultOk) {
          out += "(getBusInfo failed: " + resultName(result) + ")\n";
          continue;
        }
        out += quote(toAscii(bus.name, 128)) + ", " + mediaName(bus.mediaType) + " " +
               directionName(bus.direction) + ", " + std::to_string(bus.channelCount) +
               " channels, " + (bus.busType == kMain ? "main" : "aux") + ", flags " +
               hex(bus.flags) +
               flagNames(bus.flags, {{BusInfo::kDefaultActive, "default active"},
                                     {BusInfo::kIsControlVoltage, "control voltage"}}) +
               "\n";
      }
    }
  }
}

void describeParameters(IEditController *controller, std::string &out) {
  const int32 count = controller->getParameterCount();
  out += "controller parameters: " + std::to_string(count) + "\n";
  for (int32 i = 0; i < count; ++i) {
    ParameterInfo info{};
    const tresult result = controller->getParameterInfo(i, info);
    if (result != kResultOk) {
      out += "  [" + std::to_string(i) + "] (getParameterInfo failed: " + resultName(result) + ")\n";
      continue;
    }
    const auto flags = static_cast<uint32_t>(info.flags);
    String128 shown = {};
    controller->getParamStringByValue(info.id, info.defaultNormalizedValue, shown);
    out += "  " + std::to_string(info.id) + ": " + quote(toAscii(info.title, 128)) + ", units " +
           quote(toAscii(info.units, 128)) + ", steps " + std::to_string(info.stepCount) +
           ", default " + formatNumber(info.defaultNormalizedValue) + " " + quote(toAscii(shown, 128)) + ", unit " +
           std::to_string(info.unitId) + ", flags " + hex(flags) +
           flagNames(flags, {{ParameterInfo::kCanAutomate, "can automate"},
                             {ParameterInfo::kIsReadOnly, "read-only"},
                             {ParameterInfo::kIsWrapAround, "wrap-around"},
                             {ParameterInfo::kIsList, "list"},
                             {ParameterInfo::kIsHidden, "hidden"},
                             {ParameterInfo::kIsProgramChange, "program change"},
                             {ParameterInfo::kIsBypass, "bypass"}}) +
           "\n";
  }
}

// The controller's units (IUnitInfo), in which hosts group the parameters.
void describeUnits(IEditController *controller, std::string &out) {
  IUnitInfo *units = nullptr;
  if (controller->queryInterface(IUnitInfo::iid, reinterpret_cast<void **>(&units)) != kResultOk ||
      units == nullptr) {
    out += "controller units: none (no IUnitInfo)\n";
    return;
  }
  const int32 count = units->getUnitCount();
  out += "controller units: " + std::to_string(count) + "\n";
  for (int32 i = 0; i < count; ++i) {
    UnitInfo info{};
    if (units->getUnitInfo(i, info) != kResultOk) {
      out += "  [" + std::to_string(i) + "] (getUnitInfo failed)\n";
      continue;
    }
    out += "  " + std::to_string(info.id) + ": " + quote(toAscii(info.name, 128)) + ", parent " +
           std::to_string(info.parentUnitId) + ", program list " + std::to_string(info.programListId) + "\n";
  }
  units->release();
}

} // namespace

bool describePlugin(const std::string &bundlePath, std::string &text, std::string &error) {
  std::unique_ptr<Vst3Module> module = Vst3Module::load(bundlePath, error);
  if (module == nullptr) return false;
  text.clear();
  describeFactory(*module, text);
  describeClasses(*module, text);

  IPtr<HostApplication> host = owned(new HostApplication());
  std::unique_ptr<PluginInstance> plugin = PluginInstance::create(*module, host, error);
  if (plugin == nullptr) return false;
  describeBuses(plugin->component(), text);
  describeUnits(plugin->controller(), text);
  describeParameters(plugin->controller(), text);
  plugin.reset();
  return true;
}

} // namespace norva::probe
