// norva-probe validate: the module's factory, its class records and the interfaces each class
// answers.
#include "validate_checks.h"

#include "identity/plugin_ids.h"
#include "vst3/abi/ivstunits.h"

namespace norva::probe::validation {

Reason factorySingleton(Context &c) {
  IPluginFactory *factory = c.module.factory();
  const uint32 before = countOf(factory);
  IPluginFactory *again = c.module.callGetPluginFactory();
  if (again == nullptr) return "the second GetPluginFactory returned null";
  const uint32 during = countOf(factory);
  again->release();
  if (again != factory) return "the second GetPluginFactory returned another object";
  if (during != before + 1)
    return "the second call took the count from " + std::to_string(before) + " to " +
           std::to_string(during) + " (expected one more)";
  if (countOf(factory) != before) return "releasing the second reference did not restore the count";
  return kPass;
}

Reason factoryInfo(Context &c) {
  PFactoryInfo info;
  const tresult result = c.module.factory()->getFactoryInfo(&info);
  if (result != kResultOk) return "getFactoryInfo returned " + resultName(result);
  if (field(info.vendor) != "Norva Music") return "vendor " + quoted(field(info.vendor));
  if (field(info.url).empty()) return "no url";
  if (field(info.email).rfind("mailto:", 0) != 0) return "email " + quoted(field(info.email));
  if ((info.flags & PFactoryInfo::kUnicode) == 0) return "flags lack kUnicode";
  if (c.module.factory()->getFactoryInfo(nullptr) == kResultOk) return "getFactoryInfo(null) succeeded";
  return kPass;
}

Reason factoryInterfaces(Context &c) {
  IPluginFactory *factory = c.module.factory();
  const uint32 before = countOf(factory);
  FUnknown *unknown = nullptr;
  IPluginFactory2 *f2 = nullptr;
  IPluginFactory3 *f3 = nullptr;
  Reason reason;
  if (factory->queryInterface(FUnknown::iid, reinterpret_cast<void **>(&unknown)) != kResultOk)
    reason = "no FUnknown";
  else if (unknown != static_cast<FUnknown *>(factory))
    reason = "FUnknown is another object";
  if (factory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void **>(&f2)) != kResultOk)
    reason = "no IPluginFactory2";
  if (factory->queryInterface(IPluginFactory3::iid, reinterpret_cast<void **>(&f3)) != kResultOk)
    reason = "no IPluginFactory3";
  void *other = reinterpret_cast<void *>(1);
  if (factory->queryInterface(IComponent::iid, &other) != kNoInterface || other != nullptr)
    reason = "an unknown interface was not refused with kNoInterface and a null pointer";
  const uint32 held = countOf(factory);
  const uint32 expected = before + (unknown ? 1 : 0) + (f2 ? 1 : 0) + (f3 ? 1 : 0);
  if (unknown) unknown->release();
  if (f2) f2->release();
  if (f3) f3->release();
  if (!reason.empty()) return reason;
  if (held != expected)
    return "three answers raised the count by " + std::to_string(held - before) + " (expected 3)";
  if (countOf(factory) != before) return "the count did not return after release";
  return kPass;
}

namespace {

Reason classRecord(Context &c, int32 index, const char *category, const char *name,
                   const FUID &uid, uint32 flags, const char *subCategories) {
  if (c.module.factory()->countClasses() != 2)
    return "countClasses is " + std::to_string(c.module.factory()->countClasses()) + " (expected 2)";
  if (c.module.factory2() == nullptr) return "no IPluginFactory2";
  PClassInfo2 info;
  const tresult result = c.module.factory2()->getClassInfo2(index, &info);
  if (result != kResultOk) return "getClassInfo2 returned " + resultName(result);
  if (field(info.category) != category) return "category " + quoted(field(info.category));
  if (field(info.name) != name) return "name " + quoted(field(info.name));
  if (uidHex(info.cid) != uidHex(uid)) return "cid " + uidHex(info.cid);
  if (info.cardinality != PClassInfo::kManyInstances)
    return "cardinality " + std::to_string(info.cardinality);
  if (info.classFlags != flags) return "class flags " + std::to_string(info.classFlags);
  if (field(info.subCategories) != subCategories)
    return "sub-categories " + quoted(field(info.subCategories));
  if (field(info.version) != kPluginVersion) return "version " + quoted(field(info.version));
  if (field(info.sdkVersion) != "VST 3.8.1") return "SDK version " + quoted(field(info.sdkVersion));
  return kPass;
}

} // namespace

Reason processorClassRecord(Context &c) {
  return classRecord(c, 0, kVstAudioEffectClass, "Tindrel", kProcessorUid, kDistributable, "Fx");
}

Reason controllerClassRecord(Context &c) {
  return classRecord(c, 1, kVstComponentControllerClass, "Tindrel Controller", kControllerUid, 0,
                     "");
}

Reason classRecordsAgree(Context &c) {
  const int32 count = c.module.factory()->countClasses();
  for (int32 i = 0; i < count; ++i) {
    const std::string at = "class " + std::to_string(i) + ": ";
    PClassInfo info1;
    PClassInfo2 info2;
    PClassInfoW infoW;
    if (c.module.factory()->getClassInfo(i, &info1) != kResultOk) return at + "getClassInfo failed";
    if (c.module.factory2()->getClassInfo2(i, &info2) != kResultOk) return at + "getClassInfo2 failed";
    if (c.module.factory3() == nullptr) return "no IPluginFactory3";
    if (c.module.factory3()->getClassInfoUnicode(i, &infoW) != kResultOk)
      return at + "getClassInfoUnicode failed";
    if (std::memcmp(info1.cid, info2.cid, sizeof(TUID)) != 0 || field(info1.name) != field(info2.name) ||
        field(info1.category) != field(info2.category) || info1.cardinality != info2.cardinality)
      return at + "getClassInfo and getClassInfo2 differ";
    if (std::memcmp(infoW.cid, info2.cid, sizeof(TUID)) != 0 ||
        toAscii(infoW.name, PClassInfo::kNameSize) != field(info2.name) ||
        toAscii(infoW.version, PClassInfoW::kVersionSize) != field(info2.version) ||
        toAscii(infoW.sdkVersion, PClassInfoW::kVersionSize) != field(info2.sdkVersion) ||
        toAscii(infoW.vendor, PClassInfoW::kVendorSize) != field(info2.vendor) ||
        field(infoW.subCategories) != field(info2.subCategories) ||
        field(infoW.category) != field(info2.category) || infoW.classFlags != info2.classFlags)
      return at + "getClassInfoUnicode and getClassInfo2 differ";
  }
  return kPass;
}

Reason classIndexRange(Context &c) {
  PClassInfo info1;
  PClassInfo2 info2;
  PClassInfoW infoW;
  for (int32 index : {-1, 2, 1000}) {
    if (c.module.factory()->getClassInfo(index, &info1) == kResultOk ||
        c.module.factory2()->getClassInfo2(index, &info2) == kResultOk ||
        (c.module.factory3() && c.module.factory3()->getClassInfoUnicode(index, &infoW) == kResultOk))
      return "class index " + std::to_string(index) + " was answered";
  }
  return kPass;
}

Reason createRefusals(Context &c) {
  FUID unknownUid(0x12345678, 0x9ABCDEF0, 0x0FEDCBA9, 0x87654321);
  struct Case {
    const char *what;
    const FUID *cid;
    const FUID *iid;
  } cases[] = {
      {"an unknown class", &unknownUid, &IComponent::iid},
      {"the processor as IEditController", &kProcessorUid, &IEditController::iid},
      {"the controller as IAudioProcessor", &kControllerUid, &IAudioProcessor::iid},
      {"the processor as an unknown interface", &kProcessorUid, &unknownUid},
  };
  for (const Case &test : cases) {
    void *obj = reinterpret_cast<void *>(1);
    const tresult result = c.module.factory()->createInstance(*test.cid, *test.iid, &obj);
    if (result == kResultOk || obj != nullptr) {
      if (result == kResultOk && obj != nullptr) static_cast<FUnknown *>(obj)->release();
      return std::string("creating ") + test.what + " gave " + resultName(result) +
             (obj != nullptr ? " and an object" : "");
    }
  }
  return kPass;
}

Reason moduleEntryCounted(Context &c) {
  using EntryProc = bool (*)(void *);
  using ExitProc = bool (*)();
  auto entry = reinterpret_cast<EntryProc>(c.module.symbol("ModuleEntry"));
  auto exitProc = reinterpret_cast<ExitProc>(c.module.symbol("ModuleExit"));
  if (entry == nullptr || exitProc == nullptr) return "ModuleEntry or ModuleExit not exported";
  if (!entry(c.module.handle())) return "a second ModuleEntry failed";
  if (!exitProc()) return "ModuleExit after the second ModuleEntry failed";
  // The factory must survive the balanced pair.
  if (c.module.factory()->countClasses() != 2) return "the factory changed after ModuleExit";
  return kPass;
}

// --- instances ------------------------------------------------------------------------

namespace {

struct Iid {
  const char *name;
  const FUID *iid;
};

// Every required interface answers with a reference, all share one FUnknown
// identity, the refused one is refused with a null pointer, and releasing
// everything restores the count.
Reason interfacesOf(FUnknown *object, std::initializer_list<Iid> required, Iid refused) {
  const uint32 before = countOf(object);
  FUnknown *identity = nullptr;
  if (object->queryInterface(FUnknown::iid, reinterpret_cast<void **>(&identity)) != kResultOk ||
      identity == nullptr)
    return "no FUnknown";
  std::vector<FUnknown *> held = {identity};
  Reason reason;
  for (const Iid &want : required) {
    FUnknown *answer = nullptr;
    if (object->queryInterface(*want.iid, reinterpret_cast<void **>(&answer)) != kResultOk ||
        answer == nullptr) {
      reason = std::string("no ") + want.name;
      break;
    }
    held.push_back(answer);
    FUnknown *back = nullptr;
    if (answer->queryInterface(FUnknown::iid, reinterpret_cast<void **>(&back)) != kResultOk ||
        back != identity) {
      reason = std::string(want.name) + " leads to another FUnknown";
    }
    if (back != nullptr) back->release();
    if (!reason.empty()) break;
  }
  void *other = reinterpret_cast<void *>(1);
  if (reason.empty() && (object->queryInterface(*refused.iid, &other) == kResultOk || other != nullptr)) {
    if (other != nullptr && other != reinterpret_cast<void *>(1)) static_cast<FUnknown *>(other)->release();
    reason = std::string(refused.name) + " was not refused with a null pointer";
  }
  const uint32 during = countOf(object);
  for (FUnknown *answer : held) answer->release();
  if (!reason.empty()) return reason;
  if (during != before + held.size())
    return std::to_string(held.size()) + " answers raised the count by " +
           std::to_string(during - before);
  if (object->addRef() != before + 1) {
    object->release();
    return "addRef did not return the new count";
  }
  if (object->release() != before) return "release did not return the new count";
  return kPass;
}

} // namespace

Reason processorInterfaces(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error, false);
  if (plugin == nullptr) return error;
  return interfacesOf(plugin->component(),
                      {{"IComponent", &IComponent::iid},
                       {"IAudioProcessor", &IAudioProcessor::iid},
                       {"IPluginBase", &IPluginBase::iid},
                       {"IConnectionPoint", &IConnectionPoint::iid}},
                      {"IEditController", &IEditController::iid});
}

Reason controllerInterfaces(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  return interfacesOf(plugin->controller(),
                      {{"IEditController", &IEditController::iid},
                       {"IEditController2", &IEditController2::iid},
                       {"IPluginBase", &IPluginBase::iid},
                       {"IConnectionPoint", &IConnectionPoint::iid},
                       {"IUnitInfo", &IUnitInfo::iid}},
                      {"IAudioProcessor", &IAudioProcessor::iid});
}

Reason controllerMidiMapping(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  FUnknownPtr<IMidiMapping> mapping(plugin->controller());
  if (!mapping) return "the controller does not answer IMidiMapping";
  ParamID id = 0;
  // No CC map yet: nothing is assigned, and bus 1 or controller 128 never are.
  if (mapping->getMidiControllerAssignment(0, 0, 1, id) == kResultOk) return "CC 1 is assigned without a CC map";
  if (mapping->getMidiControllerAssignment(1, 0, 1, id) == kResultOk) return "bus 1 has an assignment";
  if (mapping->getMidiControllerAssignment(0, 0, 128, id) == kResultOk) return "controller 128 has an assignment";
  return kPass;
}

Reason controllerClassId(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error, false);
  if (plugin == nullptr) return error;
  TUID uid = {};
  const tresult result = plugin->component()->getControllerClassId(uid);
  if (result != kResultOk) return "getControllerClassId returned " + resultName(result);
  if (uidHex(uid) != uidHex(kControllerUid)) return "controller class " + uidHex(uid);
  return kPass;
}

// A processor and a controller initialised without a host context: no
// message can be made, and nothing may depend on one.
Reason withoutHostContext(Context &c) {
  PClassInfo info;
  if (c.module.findClass(kVstAudioEffectClass, info) < 0) return "no processor class";
  IComponent *component = nullptr;
  if (c.module.factory()->createInstance(info.cid, IComponent::iid,
                                         reinterpret_cast<void **>(&component)) != kResultOk)
    return "the processor was not created";
  Reason reason;
  FUnknownPtr<IAudioProcessor> processor(component);
  ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
  if (component->initialize(nullptr) != kResultOk) reason = "processor initialize(null) failed";
  else if (!processor) reason = "no IAudioProcessor";
  else if (processor->setupProcessing(setup) != kResultOk) reason = "setupProcessing failed";
  else if (component->setActive(true) != kResultOk) reason = "setActive(true) failed";
  else {
    Block block;
    block.note(0, 64, 0.5f);
    if (block.run(processor, kBlock) != kResultOk) reason = "process failed";
    std::string text;
    if (reason.empty() && !stateText(component, text)) reason = "getState failed";
    if (reason.empty() && setStateText(component, text) != kResultOk) reason = "setState failed";
    component->setActive(false);
  }
  component->terminate();
  processor = nullptr;
  component->release();
  if (!reason.empty()) return reason;

  IEditController *controller = nullptr;
  if (c.module.factory()->createInstance(kControllerUid, IEditController::iid,
                                         reinterpret_cast<void **>(&controller)) != kResultOk)
    return "the controller was not created";
  if (controller->initialize(nullptr) != kResultOk) reason = "controller initialize(null) failed";
  else if (controller->getParameterCount() != static_cast<int32>(kParamCount))
    reason = "the controller has " + std::to_string(controller->getParameterCount()) + " parameters";
  controller->terminate();
  controller->release();
  return reason;
}

} // namespace norva::probe::validation
