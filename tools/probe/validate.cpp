#include "validate.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "params/params.h"
#include "probe_options.h"
#include "vst3/abi/ivstunits.h"
#include "vst3/sdk/hostmessage.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"
#include "vst3_plugin.h"

namespace norva::probe {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

// A check answers the empty text when it passes, else the reason it failed.
using Reason = std::string;
const Reason kPass;

constexpr const char *kProcessorUid = "643D3396653D3529623D3070633D3203";
constexpr const char *kControllerUid = "67EE543A68EE55CD65EE511466EE52A7";
constexpr double kRate = 48000;
constexpr int32 kBlock = 512;
constexpr uint32 kBpm = 1;
constexpr uint32 kRun = 0;
constexpr uint32 kKeyFollow = 18;
constexpr uint32 kFirstStep = 21;
constexpr int kInstanceLimit = 32;

struct Context {
  Vst3Module &module;
  IPtr<HostApplication> host;
};

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

template <size_t N> std::string field(const char8 (&text)[N]) {
  return std::string(text, strnlen(text, N));
}

std::string number(double value) { return formatNumber(value); }

// Current reference count of an object, read without changing it.
uint32 countOf(FUnknown *object) {
  object->addRef();
  return object->release();
}

std::unique_ptr<PluginInstance> makePlugin(Context &c, std::string &error,
                                           bool withController = true) {
  return PluginInstance::create(c.module, c.host, error, withController);
}

// A plug-in created and started at 48 kHz with 512-frame blocks, or null
// with the reason.
std::unique_ptr<PluginInstance> startedPlugin(Context &c, Reason &reason) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr || !plugin->syncController(error) || !plugin->start(kRate, kBlock, error)) {
    reason = error;
    return nullptr;
  }
  return plugin;
}

// --- blocks -----------------------------------------------------------------------

// The lists of one process call; the input lists are emptied after each call.
struct Block {
  IPtr<ParameterChanges> changes = owned(new ParameterChanges());
  IPtr<EventList> in = owned(new EventList(1 << 16));
  IPtr<EventList> out;
  int32 symbolicSampleSize = kSample32;

  explicit Block(size_t outCapacity = 1 << 16) : out(owned(new EventList(outCapacity))) {}

  tresult run(IAudioProcessor *processor, int32 frames) {
    ProcessData data;
    data.processMode = kRealtime;
    data.symbolicSampleSize = symbolicSampleSize;
    data.numSamples = frames;
    data.inputParameterChanges = changes;
    data.inputEvents = in;
    data.outputEvents = out;
    out->clear();
    const tresult result = processor->process(data);
    changes->clear();
    in->clear();
    return result;
  }
  void note(int32 offset, int16 pitch, float velocity) {
    Event event = makeNoteOn(offset, pitch, velocity);
    in->addEvent(event);
  }
  void noteOff(int32 offset, int16 pitch) {
    Event event = makeNoteOff(offset, pitch);
    in->addEvent(event);
  }
};

// One output event at its frame counted from the start of a render.
struct Played {
  int64_t frame = 0;
  Event event{};
};

// Checks one block's output as a host receives it: bus 0, offsets inside the
// block and not decreasing, known types, numbers and values in range.
Reason checkOutput(const std::vector<Event> &events, int32 frames) {
  int32 last = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const Event &e = events[i];
    const std::string which = "output event " + std::to_string(i);
    if (e.busIndex != 0) return which + " on bus " + std::to_string(e.busIndex);
    if (e.sampleOffset < 0 || e.sampleOffset >= frames)
      return which + " at offset " + std::to_string(e.sampleOffset) + " in a block of " +
             std::to_string(frames);
    if (e.sampleOffset < last) return which + " is earlier than the event before it";
    last = e.sampleOffset;
    switch (e.type) {
    case Event::kNoteOnEvent:
      if (e.noteOn.pitch < 0 || e.noteOn.pitch > 127 || e.noteOn.channel < 0 || e.noteOn.channel > 15)
        return which + ": note-on with pitch " + std::to_string(e.noteOn.pitch) + ", channel " +
               std::to_string(e.noteOn.channel);
      if (!(e.noteOn.velocity > 0 && e.noteOn.velocity <= 1))
        return which + ": note-on with velocity " + number(e.noteOn.velocity);
      break;
    case Event::kNoteOffEvent:
      if (e.noteOff.pitch < 0 || e.noteOff.pitch > 127 || e.noteOff.channel < 0 || e.noteOff.channel > 15)
        return which + ": note-off with pitch " + std::to_string(e.noteOff.pitch);
      break;
    case Event::kLegacyMIDICCOutEvent:
      if (e.midiCCOut.controlNumber > 127 || e.midiCCOut.value < 0 || e.midiCCOut.channel < 0 ||
          e.midiCCOut.channel > 15)
        return which + ": controller " + std::to_string(e.midiCCOut.controlNumber) + " value " +
               std::to_string(e.midiCCOut.value);
      break;
    default:
      return which + " has type " + std::to_string(e.type);
    }
  }
  return kPass;
}

// Runs frames in blocks of block frames with empty inputs, collecting the
// output. block is the first call's inputs, when given.
Reason render(IAudioProcessor *processor, int64_t frames, int32 blockFrames,
              std::vector<Played> &played, Block *first = nullptr) {
  Block own;
  Block &block = first != nullptr ? *first : own;
  for (int64_t start = 0; start < frames; start += blockFrames) {
    const auto count = static_cast<int32>(std::min<int64_t>(blockFrames, frames - start));
    const tresult result = block.run(processor, count);
    if (result != kResultOk)
      return "process at frame " + std::to_string(start) + " returned " + resultName(result);
    if (Reason r = checkOutput(block.out->events(), count); !r.empty())
      return "block at frame " + std::to_string(start) + ": " + r;
    for (const Event &e : block.out->events()) played.push_back({start + e.sampleOffset, e});
  }
  return kPass;
}

std::vector<Played> noteOns(const std::vector<Played> &played, int pitch = -1) {
  std::vector<Played> ons;
  for (const Played &p : played) {
    if (p.event.type == Event::kNoteOnEvent && (pitch < 0 || p.event.noteOn.pitch == pitch))
      ons.push_back(p);
  }
  return ons;
}

// Queues plain values as one block's parameter changes at offset 0,
// normalised by the controller, and runs that block.
Reason applyPlain(PluginInstance &plugin, const std::vector<std::pair<uint32, double>> &values) {
  Block block;
  for (const auto &[id, plain] : values) {
    const ParamValue normalized = plugin.controller()->plainParamToNormalized(id, plain);
    block.changes->add(id, 0, normalized);
    plugin.controller()->setParamNormalized(id, normalized);
  }
  const tresult result = block.run(plugin.processor(), 64);
  return result == kResultOk ? kPass : "process with parameter changes returned " + resultName(result);
}

// --- state ------------------------------------------------------------------------

bool stateText(IComponent *component, std::string &text) {
  IPtr<MemoryStream> stream = owned(new MemoryStream());
  if (component->getState(stream) != kResultOk) return false;
  text = stream->text();
  return true;
}

tresult setStateText(IComponent *component, const std::string &text, int32_t piece = 0) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(text, piece));
  return component->setState(stream);
}

tresult setComponentStateText(IEditController *controller, const std::string &text,
                              int32_t piece = 0) {
  IPtr<MemoryStream> stream = owned(new MemoryStream(text, piece));
  return controller->setComponentState(stream);
}

std::vector<double> controllerValues(IEditController *controller) {
  std::vector<double> values;
  for (uint32 id = 0; id < kParamCount; ++id) values.push_back(controller->getParamNormalized(id));
  return values;
}

// The "params" object of a state document as written by the plug-in (no
// white space): key to plain value, null read as NaN.
bool readStateParams(const std::string &doc, std::map<std::string, double> &values) {
  static const std::string marker = "\"params\":{";
  size_t at = doc.find(marker);
  if (at == std::string::npos) return false;
  at += marker.size();
  while (at < doc.size() && doc[at] != '}') {
    if (doc[at] == ',') {
      ++at;
      continue;
    }
    if (doc[at] != '"') return false;
    const size_t end = doc.find('"', at + 1);
    if (end == std::string::npos || end + 1 >= doc.size() || doc[end + 1] != ':') return false;
    const std::string key = doc.substr(at + 1, end - at - 1);
    at = end + 2;
    if (doc.compare(at, 4, "null") == 0) {
      values[key] = NAN;
      at += 4;
      continue;
    }
    const char *begin = doc.c_str() + at;
    char *stop = nullptr;
    const double value = std::strtod(begin, &stop);
    if (stop == begin) return false;
    values[key] = value;
    at += static_cast<size_t>(stop - begin);
  }
  return at < doc.size();
}

// Plain value of a parameter in a state document.
bool stateValue(const std::string &doc, uint32 id, double &value) {
  std::map<std::string, double> values;
  if (!readStateParams(doc, values)) return false;
  const auto it = values.find(NORVA_PARAMS[id].key);
  if (it == values.end()) return false;
  value = it->second;
  return true;
}

// The ids whose controller values differ between two snapshots.
std::string changedIds(const std::vector<double> &before, const std::vector<double> &after) {
  std::string ids;
  for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] == after[i]) continue;
    ids += ids.empty() ? "" : " ";
    ids += std::to_string(i);
  }
  return ids.empty() ? "none" : ids;
}

// A plug-in moved off its defaults, with its state text and its
// controller's values.
struct Altered {
  std::unique_ptr<PluginInstance> plugin;
  std::string state;
  std::vector<double> controller;
};

const std::vector<std::pair<uint32, double>> kAlteredValues = {
    {kBpm, 137.5}, {8, 2}, {6, -7}, {kFirstStep + 4, 17}, {20, 3}, {3, 0.625}};

Reason alteredPlugin(Context &c, Altered &altered) {
  Reason reason;
  altered.plugin = startedPlugin(c, reason);
  if (altered.plugin == nullptr) return reason;
  if (Reason r = applyPlain(*altered.plugin, kAlteredValues); !r.empty()) return r;
  if (!stateText(altered.plugin->component(), altered.state)) return "getState failed";
  altered.controller = controllerValues(altered.plugin->controller());
  return kPass;
}

// --- factory ------------------------------------------------------------------------

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

Reason classRecord(Context &c, int32 index, const char *category, const char *name,
                   const char *uid, uint32 flags, const char *subCategories) {
  if (c.module.factory()->countClasses() != 2)
    return "countClasses is " + std::to_string(c.module.factory()->countClasses()) + " (expected 2)";
  if (c.module.factory2() == nullptr) return "no IPluginFactory2";
  PClassInfo2 info;
  const tresult result = c.module.factory2()->getClassInfo2(index, &info);
  if (result != kResultOk) return "getClassInfo2 returned " + resultName(result);
  if (field(info.category) != category) return "category " + quoted(field(info.category));
  if (field(info.name) != name) return "name " + quoted(field(info.name));
  if (uidHex(info.cid) != uid) return "cid " + uidHex(info.cid);
  if (info.cardinality != PClassInfo::kManyInstances)
    return "cardinality " + std::to_string(info.cardinality);
  if (info.classFlags != flags) return "class flags " + std::to_string(info.classFlags);
  if (field(info.subCategories) != subCategories)
    return "sub-categories " + quoted(field(info.subCategories));
  if (field(info.version) != "1.0.0") return "version " + quoted(field(info.version));
  if (field(info.sdkVersion) != "VST 3.8.1") return "SDK version " + quoted(field(info.sdkVersion));
  return kPass;
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
  FUID processorUid, controllerUid;
  uidFromString(processorUid, kProcessorUid);
  uidFromString(controllerUid, kControllerUid);
  struct Case {
    const char *what;
    const FUID *cid;
    const FUID *iid;
  } cases[] = {
      {"an unknown class", &unknownUid, &IComponent::iid},
      {"the processor as IEditController", &processorUid, &IEditController::iid},
      {"the controller as IAudioProcessor", &controllerUid, &IAudioProcessor::iid},
      {"the processor as an unknown interface", &processorUid, &unknownUid},
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
  if (uidHex(uid) != kControllerUid) return "controller class " + uidHex(uid);
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
  FUID controllerUid;
  uidFromString(controllerUid, kControllerUid);
  if (c.module.factory()->createInstance(controllerUid, IEditController::iid,
                                         reinterpret_cast<void **>(&controller)) != kResultOk)
    return "the controller was not created";
  if (controller->initialize(nullptr) != kResultOk) reason = "controller initialize(null) failed";
  else if (controller->getParameterCount() != static_cast<int32>(kParamCount))
    reason = "the controller has " + std::to_string(controller->getParameterCount()) + " parameters";
  controller->terminate();
  controller->release();
  return reason;
}

// --- buses ------------------------------------------------------------------------------

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

// --- parameters -------------------------------------------------------------------------

int32 expectedStepCount(const norva_param_desc &row) {
  if (row.kind == kParamKindList) return row.labelCount >= 2 ? row.labelCount - 1 : 1;
  if (row.kind == kParamKindToggle) return 1;
  return 0;
}

Reason parameters(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  const int32 count = controller->getParameterCount();
  if (count != static_cast<int32>(kParamCount))
    return std::to_string(count) + " parameters (expected " + std::to_string(kParamCount) + ")";
  for (int32 i = 0; i < count; ++i) {
    const norva_param_desc &row = NORVA_PARAMS[i];
    const std::string at = "parameter " + std::to_string(i) + ": ";
    ParameterInfo info{};
    if (controller->getParameterInfo(i, info) != kResultOk) return at + "getParameterInfo failed";
    if (info.id != static_cast<ParamID>(i)) return at + "id " + std::to_string(info.id);
    if (toAscii(info.title, 128) != row.title) return at + "title " + quoted(toAscii(info.title, 128));
    if (toAscii(info.shortTitle, 128) != row.title)
      return at + "short title " + quoted(toAscii(info.shortTitle, 128));
    if (toAscii(info.units, 128) != row.units) return at + "units " + quoted(toAscii(info.units, 128));
    if (info.stepCount != expectedStepCount(row)) return at + "step count " + std::to_string(info.stepCount);
    if (info.flags != ParameterInfo::kCanAutomate) return at + "flags " + std::to_string(info.flags);
    if (info.unitId != 0) return at + "unit " + std::to_string(info.unitId);
    if (info.defaultNormalizedValue != row.defaultNormalized)
      return at + "default " + number(info.defaultNormalizedValue) + " (expected " +
             number(row.defaultNormalized) + ")";
    if (controller->getParamNormalized(info.id) != row.defaultNormalized)
      return at + "starts at " + number(controller->getParamNormalized(info.id));
  }
  ParameterInfo info{};
  for (int32 index : {-1, count, 1000}) {
    if (controller->getParameterInfo(index, info) == kResultOk)
      return "parameter index " + std::to_string(index) + " was answered";
  }
  if (controller->setParamNormalized(kParamCount, 0.5) == kResultOk) return "parameter id 53 was set";
  return kPass;
}

Reason parameterConversions(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  for (uint32 id = 0; id < kParamCount; ++id) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    const std::string at = std::string(row.key) + ": ";
    const double span = row.max - row.min;
    for (double plain : {row.min, row.max, row.defaultPlain, row.min - span, row.max + span,
                         row.min + span * 0.37, row.min + span * 0.5}) {
      const double got = controller->plainParamToNormalized(id, plain);
      const double want = norva_param_normalize(&row, plain);
      if (got != want)
        return at + "plain " + number(plain) + " normalised to " + number(got) + " (expected " +
               number(want) + ")";
    }
    for (double normalized : {0.0, 0.25, 0.5, 0.51, 0.52, 1.0, -0.2, 1.7, row.defaultNormalized}) {
      const double got = controller->normalizedParamToPlain(id, normalized);
      const double want = paramToPlain(row, normalized);
      if (got != want)
        return at + "normalised " + number(normalized) + " gave plain " + number(got) +
               " (expected " + number(want) + ")";
    }
  }
  return kPass;
}

Reason parameterTexts(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  for (uint32 id = 0; id < kParamCount; ++id) {
    const norva_param_desc &row = NORVA_PARAMS[id];
    for (double normalized : {0.0, 0.5, 1.0, row.defaultNormalized}) {
      String128 text = {};
      if (controller->getParamStringByValue(id, normalized, text) != kResultOk)
        return std::string(row.key) + ": no text for " + number(normalized);
      char expected[129] = {};
      paramToText(row, normalized, expected, sizeof expected);
      if (toAscii(text, 128) != expected)
        return std::string(row.key) + ": " + number(normalized) + " reads " +
               quoted(toAscii(text, 128)) + " (expected " + quoted(expected) + ")";
    }
  }
  std::u16string text = u"140 BPM";
  ParamValue value = -1;
  if (controller->getParamValueByString(kBpm, text.data(), value) != kResultOk ||
      value != norva_param_normalize(&NORVA_PARAMS[kBpm], 140))
    return "\"140 BPM\" for tindrel.bpm gave " + number(value);
  text = u"64.5xyz";
  if (controller->getParamValueByString(kFirstStep, text.data(), value) != kResultOk ||
      value != 64.5 / 127)
    return "\"64.5xyz\" for tindrel.g1 gave " + number(value);
  text = u"abc";
  value = 0.25;
  if (controller->getParamValueByString(kBpm, text.data(), value) == kResultOk || value != 0.25)
    return "\"abc\" was read as a number";
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

bool sawMessage(const std::vector<MessageRecord> &log, const char *id, int64_t *jsonSize = nullptr) {
  for (const MessageRecord &record : log) {
    if (record.id != id) continue;
    if (jsonSize != nullptr) *jsonSize = record.jsonSize;
    return true;
  }
  return false;
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

// --- processing -----------------------------------------------------------------------------

Reason emptyBlocks(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  ProcessData bare;
  bare.numSamples = kBlock;
  if (tresult r = plugin->processor()->process(bare); r != kResultOk)
    return "process without lists returned " + resultName(r);
  Block block;
  if (tresult r = block.run(plugin->processor(), 0); r != kResultOk)
    return "a block of 0 frames returned " + resultName(r);
  if (!block.out->events().empty()) return "a block of 0 frames played events";
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "a block with empty lists returned " + resultName(r);
  return checkOutput(block.out->events(), kBlock);
}

Reason defaultPattern(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 2 * 48000, kBlock, played); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  // Sixteenths at 120 BPM, the velocity figure 100 60 0 60: 12 notes in 2 s.
  if (ons.size() != 12) return std::to_string(ons.size()) + " note-ons in 2 s (expected 12)";
  const int64_t frames[] = {0, 6000, 18000, 24000};
  const int velocities[] = {100, 60, 60, 100};
  for (size_t i = 0; i < 4; ++i) {
    const Event &e = ons[i].event;
    if (ons[i].frame != frames[i] || e.noteOn.pitch != 60 ||
        std::lround(e.noteOn.velocity * 127) != velocities[i])
      return "note " + std::to_string(i + 1) + ": pitch " + std::to_string(e.noteOn.pitch) +
             " at frame " + std::to_string(ons[i].frame) + " with velocity " + number(e.noteOn.velocity);
  }
  // Every note ends before the same pitch starts again.
  std::map<int, int64_t> open;
  for (const Played &p : played) {
    if (p.event.type == Event::kNoteOnEvent) {
      if (open.count(p.event.noteOn.pitch) != 0)
        return "pitch " + std::to_string(p.event.noteOn.pitch) + " started again at frame " +
               std::to_string(p.frame) + " without a note-off";
      open[p.event.noteOn.pitch] = p.frame;
    } else if (p.event.type == Event::kNoteOffEvent) {
      open.erase(p.event.noteOff.pitch);
    }
  }
  return kPass;
}

Reason parameterChangesApply(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  Block first;
  first.changes->add(kBpm, 0, plugin->controller()->plainParamToNormalized(kBpm, 150));
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 48000, kBlock, played, &first); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  // Sixteenths at 150 BPM are 4800 frames apart.
  if (ons.size() < 2 || ons[0].frame != 0 || ons[1].frame != 4800)
    return "after a tempo of 150 the first notes play at frames " +
           (ons.size() < 2 ? std::string("(fewer than two)")
                           : std::to_string(ons[0].frame) + " and " + std::to_string(ons[1].frame));
  std::string state;
  double bpm = 0;
  if (!stateText(plugin->component(), state) || !stateValue(state, kBpm, bpm))
    return "no tempo in the state";
  if (std::fabs(bpm - 150) > 1e-9) return "the state holds a tempo of " + number(bpm);
  return kPass;
}

Reason unknownParameterIds(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  std::string before, after;
  if (!stateText(plugin->component(), before)) return "getState failed";
  Block block;
  for (ParamID id : {ParamID(53), ParamID(1000), ParamID(0x7FFFFFFF), kNoParamId})
    block.changes->add(id, 0, 1.0);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  if (!stateText(plugin->component(), after)) return "getState failed";
  if (after != before) return "changes of ids 53 and above altered the state";
  return kPass;
}

Reason crowdedBlock(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  Block block;
  for (int i = 0; i < 4096; ++i) {
    const auto offset = static_cast<int32>(i * kBlock / 4096);
    if (i % 2 == 0) block.note(offset, static_cast<int16>(i % 128), 0.75f);
    else block.noteOff(offset, static_cast<int16>((i - 1) % 128));
  }
  for (uint32 id = 0; id < kParamCount; ++id) {
    for (int32 point = 0; point < 32; ++point)
      block.changes->add(id, point * 16, NORVA_PARAMS[id].defaultNormalized);
  }
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "a block of 4096 notes and 1696 parameter points returned " + resultName(r);
  if (Reason r = checkOutput(block.out->events(), kBlock); !r.empty()) return r;
  std::vector<Played> played;
  if (Reason r = render(plugin->processor(), 4 * kBlock, kBlock, played); !r.empty())
    return "after the crowded block: " + r;
  return kPass;
}

// Incoming notes pass through while the sequencer is stopped; a block
// stopping it comes first.
Reason stopSequencer(PluginInstance &plugin) {
  Block block;
  block.changes->add(kRun, 0, 0.0);
  std::vector<Played> played;
  return render(plugin.processor(), 2 * kBlock, kBlock, played, &block);
}

Reason refusingOutputList(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block(2);
  for (int16 pitch = 64; pitch < 70; ++pitch) block.note((pitch - 64) * 50, pitch, 1.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  if (block.out->events().size() != 2)
    return std::to_string(block.out->events().size()) + " events in a list that holds 2";
  if (block.out->refusedAdds() != 1)
    return "the processor went on after the list refused an event (" +
           std::to_string(block.out->refusedAdds()) + " refused adds)";
  return kPass;
}

Reason velocityZeroNoteOn(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block;
  block.note(10, 64, 0.5f);
  block.note(100, 64, 0.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultOk)
    return "process returned " + resultName(r);
  std::vector<const Event *> notes;
  for (const Event &e : block.out->events()) {
    if ((e.type == Event::kNoteOnEvent && e.noteOn.pitch == 64) ||
        (e.type == Event::kNoteOffEvent && e.noteOff.pitch == 64))
      notes.push_back(&e);
  }
  if (notes.size() != 2 || notes[0]->type != Event::kNoteOnEvent || notes[0]->sampleOffset != 10 ||
      notes[1]->type != Event::kNoteOffEvent || notes[1]->sampleOffset != 100)
    return "the passed-through note 64 came out as " + std::to_string(notes.size()) +
           " events, not a note-on at 10 and a note-off at 100";
  if (std::lround(notes[0]->noteOn.velocity * 127) != 64)
    return "velocity 0.5 came out as " + number(notes[0]->noteOn.velocity);
  return kPass;
}

Reason parameterBeforeNote(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  auto passedThrough = [&](int32 noteFrame, int32 changeFrame, bool &passed) {
    Block block;
    block.note(noteFrame, 67, 1.0f);
    block.noteOff(noteFrame + 1, 67);
    block.changes->add(kKeyFollow, 0, 0.0);
    block.changes->add(kKeyFollow, changeFrame, 1.0);
    passed = false;
    if (block.run(plugin->processor(), kBlock) != kResultOk) return false;
    for (const Event &e : block.out->events())
      passed = passed || (e.type == Event::kNoteOnEvent && e.noteOn.pitch == 67);
    return true;
  };
  // Key follow switched on after the note lets it pass; switched on at the
  // note's own frame it must take the note, so nothing passes through.
  bool passed = false;
  if (!passedThrough(20, 21, passed)) return "process failed";
  if (!passed) return "a note before key follow was switched on did not pass through";
  if (!passedThrough(20, 20, passed)) return "process failed";
  if (passed) return "the note reached the sequencer before the parameter change of its frame";
  return kPass;
}

Reason process64(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  if (Reason r = stopSequencer(*plugin); !r.empty()) return r;
  Block block;
  block.symbolicSampleSize = kSample64;
  block.note(0, 64, 1.0f);
  if (tresult r = block.run(plugin->processor(), kBlock); r != kResultFalse)
    return "64-bit process returned " + resultName(r);
  if (!block.out->events().empty()) return "64-bit process played events";
  return kPass;
}

Reason separateInstances(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> a = startedPlugin(c, reason);
  if (a == nullptr) return reason;
  std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
  if (b == nullptr) return reason;
  if (Reason r = applyPlain(*a, {{kBpm, 200}, {kFirstStep, 5}}); !r.empty()) return r;
  std::string state;
  double bpm = 0, g1 = 0;
  if (!stateText(b->component(), state) || !stateValue(state, kBpm, bpm) ||
      !stateValue(state, kFirstStep, g1))
    return "no state from the second instance";
  if (bpm != 120 || g1 != 100) return "changing one instance changed the other's state";
  std::vector<Played> played;
  if (Reason r = render(b->processor(), 12000, kBlock, played); !r.empty()) return r;
  const std::vector<Played> ons = noteOns(played);
  if (ons.size() != 2 || ons[1].frame != 6000 || std::lround(ons[0].event.noteOn.velocity * 127) != 100)
    return "the untouched instance does not play its default pattern";
  return kPass;
}

// --- state -------------------------------------------------------------------------------------

Reason stateBetweenInstances(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  Reason reason;
  std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
  if (b == nullptr) return reason;
  if (tresult r = setStateText(b->component(), a.state); r != kResultOk)
    return "the processor refused another instance's state (" + resultName(r) + ")";
  std::string copy;
  if (!stateText(b->component(), copy)) return "getState failed";
  if (copy != a.state) return "the restored instance saves a different state";
  if (tresult r = setComponentStateText(b->controller(), a.state); r != kResultOk)
    return "the controller refused the processor's state (" + resultName(r) + ")";
  std::map<std::string, double> plain;
  if (!readStateParams(a.state, plain)) return "the state has no readable parameters";
  for (uint32 id = 0; id < kParamCount; ++id) {
    const double want = norva_param_normalize(&NORVA_PARAMS[id], plain[NORVA_PARAMS[id].key]);
    const double got = b->controller()->getParamNormalized(id);
    if (std::fabs(got - want) > 1e-12)
      return std::string("the controller holds ") + NORVA_PARAMS[id].key + " at " + number(got) +
             " (the state says " + number(want) + ")";
  }
  return kPass;
}

Reason stateIdempotent(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  if (tresult r = setStateText(a.plugin->component(), a.state); r != kResultOk)
    return "the processor refused its own state (" + resultName(r) + ")";
  std::string again;
  if (!stateText(a.plugin->component(), again)) return "getState failed";
  if (again != a.state) return "getState after setState of the same bytes differs";
  // And the state survives a re-set-up and activation.
  a.plugin->stop();
  std::string error;
  if (!a.plugin->start(44100, 256, error)) return error;
  if (!stateText(a.plugin->component(), again) || again != a.state)
    return "a new set-up and activation changed the state";
  return kPass;
}

// The state padded with an unknown member to about size bytes.
std::string paddedState(const std::string &state, size_t size) {
  const std::string head = state.substr(0, state.size() - 1) + ",\"probePadding\":\"";
  const size_t fill = size > head.size() + 2 ? size - head.size() - 2 : 0;
  return head + std::string(fill, 'x') + "\"}";
}

Reason stateInPieces(Context &c, int32_t piece) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  Reason reason;
  for (size_t size : {size_t(0), size_t(8192), size_t(10000)}) {
    const std::string doc = size == 0 ? a.state : paddedState(a.state, size);
    const std::string what = std::to_string(doc.size()) + " bytes in " + std::to_string(piece) + "-byte reads";
    std::unique_ptr<PluginInstance> b = startedPlugin(c, reason);
    if (b == nullptr) return reason;
    std::string before, after;
    stateText(b->component(), before);
    const std::vector<double> controllerBefore = controllerValues(b->controller());

    IPtr<MemoryStream> stream = owned(new MemoryStream(doc, piece));
    const tresult result = b->component()->setState(stream);
    stateText(b->component(), after);
    if (result == kResultOk) {
      if (after != a.state) return what + ": the processor restored a different state";
      int64_t total = 0;
      for (int32_t got : stream->reads()) total += got;
      if (total != static_cast<int64_t>(doc.size()))
        return what + ": the processor read " + std::to_string(total) + " bytes and accepted them";
    } else if (after != before) {
      return what + ": the processor refused the state but changed";
    }
    IPtr<MemoryStream> again = owned(new MemoryStream(doc, piece));
    const tresult controllerResult = b->controller()->setComponentState(again);
    const std::vector<double> controllerAfter = controllerValues(b->controller());
    if (controllerResult == kResultOk) {
      if (controllerAfter != a.controller)
        return what + ": the controller took other values (changed: " +
               changedIds(a.controller, controllerAfter) + ")";
    } else if (controllerAfter != controllerBefore) {
      return what + ": the controller refused the state but changed";
    }
    // Full reads deliver everything; only short reads may be refused.
    if (piece >= 4096 && (result != kResultOk || controllerResult != kResultOk))
      return what + " refused (processor " + resultName(result) + ", controller " +
             resultName(controllerResult) + ")";
  }
  return kPass;
}

Reason emptyAndNullStreams(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  IComponent *component = a.plugin->component();
  IEditController *controller = a.plugin->controller();
  if (setStateText(component, "") == kResultOk) return "the processor accepted an empty stream";
  if (setComponentStateText(controller, "") == kResultOk) return "the controller accepted an empty stream";
  if (component->setState(nullptr) == kResultOk) return "processor setState(null) succeeded";
  if (component->getState(nullptr) == kResultOk) return "processor getState(null) succeeded";
  if (controller->setComponentState(nullptr) == kResultOk) return "setComponentState(null) succeeded";
  if (controller->getState(nullptr) == kResultOk) return "controller getState(null) succeeded";
  IPtr<FailingStream> failing = owned(new FailingStream());
  if (component->setState(failing) == kResultOk) return "the processor accepted a failing stream";
  if (component->getState(failing) == kResultOk) return "getState into a failing stream succeeded";
  if (controller->setComponentState(failing) == kResultOk) return "the controller accepted a failing stream";
  if (controller->getState(failing) == kResultOk) return "controller getState into a failing stream succeeded";
  std::string after;
  if (!stateText(component, after) || after != a.state) return "the refusals changed the processor's state";
  if (controllerValues(controller) != a.controller) return "the refusals changed the controller's values";
  return kPass;
}

Reason badDocuments(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  std::string deep = "{\"params\":{\"tindrel.bpm\":150},\"deep\":";
  for (int i = 0; i < 40; ++i) deep += "[";
  for (int i = 0; i < 40; ++i) deep += "]";
  deep += "}";
  const std::string valid = "{\"params\":{\"tindrel.bpm\":150}}";
  const std::vector<std::pair<const char *, std::string>> documents = {
      {"a space", " "},
      {"an opening brace", "{"},
      {"an array", "[]"},
      {"null", "null"},
      {"a number", "42"},
      {"params as an array", "{\"params\":[]}"},
      {"a misspelt true", "{\"params\":{\"tindrel.bpm\":150,\"tindrel.run\":tru}}"},
      {"a trailing comma", "{\"params\":{\"tindrel.bpm\":150},}"},
      {"trailing text", valid + "x"},
      {"a second document", valid + valid},
      {"an unclosed object", "{\"params\":{\"tindrel.bpm\":150}"},
      {"a string variation", "{\"params\":{\"tindrel.bpm\":150},\"variation\":\"2\"}"},
      {"41 levels of nesting", deep},
      {"a NUL after the document", valid + std::string(1, '\0')},
      {"binary bytes", std::string("\x00\xff\xfe\x01", 4)},
  };
  for (const auto &[what, doc] : documents) {
    if (setStateText(a.plugin->component(), doc) == kResultOk)
      return std::string("the processor accepted ") + what;
    if (setComponentStateText(a.plugin->controller(), doc) == kResultOk)
      return std::string("the controller accepted ") + what;
    std::string after;
    if (!stateText(a.plugin->component(), after) || after != a.state)
      return std::string("refusing ") + what + " changed the processor's state";
    if (controllerValues(a.plugin->controller()) != a.controller)
      return std::string("refusing ") + what + " changed the controller's values";
  }
  return kPass;
}

Reason tempoOnlyDocument(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  const std::string doc = "{\"params\":{\"tindrel.bpm\":150}}";
  if (tresult r = setStateText(a.plugin->component(), doc); r != kResultOk)
    return "the processor refused it (" + resultName(r) + ")";
  if (tresult r = setComponentStateText(a.plugin->controller(), doc); r != kResultOk)
    return "the controller refused it (" + resultName(r) + ")";
  std::string after;
  std::map<std::string, double> before, now;
  if (!stateText(a.plugin->component(), after) || !readStateParams(a.state, before) ||
      !readStateParams(after, now))
    return "no readable state";
  for (const auto &[key, value] : before) {
    const double expected = key == NORVA_PARAMS[kBpm].key ? 150 : value;
    if (now[key] != expected)
      return "the processor's " + key + " is " + number(now[key]) + " (expected " + number(expected) + ")";
  }
  const std::vector<double> values = controllerValues(a.plugin->controller());
  if (changedIds(a.controller, values) != std::to_string(kBpm))
    return "the controller changed parameters " + changedIds(a.controller, values);
  if (values[kBpm] != norva_param_normalize(&NORVA_PARAMS[kBpm], 150))
    return "the controller's tempo is " + number(values[kBpm]);
  // A value beyond the range is clamped on the way to the controller.
  if (setComponentStateText(a.plugin->controller(), "{\"params\":{\"tindrel.bpm\":400}}") != kResultOk ||
      a.plugin->controller()->getParamNormalized(kBpm) != 1.0)
    return "a tempo of 400 did not give the controller the value 1";
  return kPass;
}

Reason controllerOwnState(Context &c) {
  std::string error;
  std::unique_ptr<PluginInstance> plugin = makePlugin(c, error);
  if (plugin == nullptr) return error;
  IEditController *controller = plugin->controller();
  IPtr<MemoryStream> saved = owned(new MemoryStream());
  if (tresult r = controller->getState(saved); r != kResultOk) return "getState returned " + resultName(r);
  if (saved->bytes().empty()) return "getState wrote nothing";
  saved->rewind();
  if (tresult r = controller->setState(saved); r != kResultOk)
    return "setState of its own state returned " + resultName(r);
  IPtr<MemoryStream> again = owned(new MemoryStream());
  controller->getState(again);
  if (again->bytes() != saved->bytes()) return "its state changed after a round trip";
  IPtr<MemoryStream> empty = owned(new MemoryStream());
  if (tresult r = controller->setState(empty); r != kResultOk)
    return "an empty own state was refused (" + resultName(r) + ")";
  IPtr<MemoryStream> broken = owned(new MemoryStream(std::string("{\"ccMap\":")));
  if (controller->setState(broken) == kResultOk) return "a broken own state was accepted";
  return kPass;
}

// --- messages ------------------------------------------------------------------------------------

IPtr<IMessage> message(Context &c, const char *id) {
  IMessage *made = allocateMessage(c.host);
  if (made == nullptr) return IPtr<IMessage>();
  made->setMessageID(id);
  return owned(made);
}

IPtr<IMessage> jsonMessage(Context &c, const char *id, const std::string &payload) {
  IPtr<IMessage> made = message(c, id);
  if (made) made->getAttributes()->setBinary("json", payload.data(), static_cast<uint32>(payload.size()));
  return made;
}

Reason messagesToProcessor(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  FUnknownPtr<IConnectionPoint> processor(a.plugin->component());
  if (processor->notify(nullptr) == kResultOk) return "notify(null) succeeded";
  IPtr<IMessage> noId = message(c, nullptr);
  IPtr<IMessage> unknown = jsonMessage(c, "norva.probe.unknown", "{}");
  IPtr<IMessage> bare = message(c, "norva.ccMap");
  IPtr<IMessage> garbage = jsonMessage(c, "norva.ccMap", "{\"bindings\":[{");
  IPtr<IMessage> emptyJson = jsonMessage(c, "norva.padOverrides", "");
  IPtr<IMessage> poll = message(c, "norva.diag.transportPoll");
  IPtr<IMessage> drain = message(c, "norva.diag.feedDrain");
  IPtr<IMessage> slot = jsonMessage(c, "norva.stageResourceSlot", "x");
  if (!noId || !unknown || !bare || !garbage || !emptyJson || !poll || !drain || !slot)
    return "the host could not make messages";
  poll->getAttributes()->setInt("reset", 1);
  poll->getAttributes()->setFloat("rate", 30.0);
  poll->getAttributes()->setString("note", u"probe");
  processor->notify(noId);
  processor->notify(unknown);
  if (tresult r = processor->notify(bare); r != kResultOk) return "norva.ccMap without json returned " + resultName(r);
  if (tresult r = processor->notify(garbage); r != kResultOk) return "norva.ccMap with broken json returned " + resultName(r);
  processor->notify(emptyJson);
  if (tresult r = processor->notify(poll); r != kResultOk) return "norva.diag.transportPoll returned " + resultName(r);
  if (tresult r = processor->notify(drain); r != kResultOk) return "norva.diag.feedDrain returned " + resultName(r);
  if (tresult r = processor->notify(slot); r != kResultFalse) return "norva.stageResourceSlot returned " + resultName(r);
  std::string after;
  if (!stateText(a.plugin->component(), after) || after != a.state) return "the messages changed the state";
  return kPass;
}

Reason messagesToController(Context &c) {
  Altered a;
  if (Reason r = alteredPlugin(c, a); !r.empty()) return r;
  FUnknownPtr<IConnectionPoint> controller(a.plugin->controller());
  if (controller->notify(nullptr) == kResultOk) return "notify(null) succeeded";
  const std::vector<std::pair<const char *, std::string>> sent = {
      {nullptr, "{}"},
      {"norva.probe.unknown", "{}"},
      {"norva.diag.hostFacts", "short"},
      {"norva.diag.hostFacts", std::string(1313, '\0')},
      {"norva.diag.transport", std::string(87, '\x7f')},
      {"norva.runtimeDiagnostics", ""},
      {"norva.runtimeDiagnostics", "{not json"},
      {"norva.diag.lifecycle", std::string(64, 'a')},
      {"norva.runtimeBankResult", "bank-missing"},
  };
  for (const auto &[id, payload] : sent) {
    IPtr<IMessage> m = jsonMessage(c, id, payload);
    if (!m) return "the host could not make messages";
    controller->notify(m);
  }
  IPtr<IMessage> bare = message(c, "norva.diag.hostFacts");
  controller->notify(bare);
  if (controllerValues(a.plugin->controller()) != a.controller) return "the messages changed parameter values";
  return kPass;
}

// --- lifecycle -----------------------------------------------------------------------------------

Reason activationCycles(Context &c) {
  Reason reason;
  std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
  if (plugin == nullptr) return reason;
  plugin->stop();
  IComponent *component = plugin->component();
  IAudioProcessor *processor = plugin->processor();
  for (int cycle = 0; cycle < 60; ++cycle) {
    if (cycle % 10 == 0) {
      ProcessSetup setup{kRealtime, kSample32, kBlock, cycle % 20 == 0 ? 44100.0 : kRate};
      if (processor->setupProcessing(setup) != kResultOk) return "set-up refused in cycle " + std::to_string(cycle);
    }
    if (component->setActive(true) != kResultOk) return "activation refused in cycle " + std::to_string(cycle);
    processor->setProcessing(true);
    Block block;
    block.note(0, 64, 1.0f);
    const tresult result = block.run(processor, kBlock);
    processor->setProcessing(false);
    if (component->setActive(false) != kResultOk) return "deactivation refused in cycle " + std::to_string(cycle);
    if (result != kResultOk) return "process in cycle " + std::to_string(cycle) + " returned " + resultName(result);
    if (Reason r = checkOutput(block.out->events(), kBlock); !r.empty()) return r;
  }
  // A second deactivation in a row is harmless.
  if (component->setActive(false) != kResultOk) return "a repeated deactivation was refused";
  return kPass;
}

// A processor without its controller, its messages going to a sink.
struct LoneProcessor {
  std::unique_ptr<PluginInstance> plugin;
  IPtr<MessageSink> sink = owned(new MessageSink());
};

bool makeLoneProcessor(Context &c, LoneProcessor &lone, std::string &error) {
  lone.plugin = makePlugin(c, error, false);
  if (lone.plugin == nullptr) return false;
  FUnknownPtr<IConnectionPoint> point(lone.plugin->component());
  if (!point || point->connect(lone.sink) != kResultOk) {
    error = "the processor did not accept a connection";
    return false;
  }
  return true;
}

Reason manyInstances(Context &c) {
  std::vector<LoneProcessor> processors(kInstanceLimit + 1);
  std::string error;
  ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
  for (int i = 0; i < kInstanceLimit; ++i) {
    if (!makeLoneProcessor(c, processors[i], error)) return error;
    IComponent *component = processors[i].plugin->component();
    if (processors[i].plugin->processor()->setupProcessing(setup) != kResultOk ||
        component->setActive(true) != kResultOk)
      return "instance " + std::to_string(i + 1) + " could not be activated";
  }
  LoneProcessor &extra = processors[kInstanceLimit];
  if (!makeLoneProcessor(c, extra, error)) return error;
  IComponent *component = extra.plugin->component();
  IAudioProcessor *processor = extra.plugin->processor();
  if (tresult r = processor->setupProcessing(setup); r != kResultFalse)
    return "set-up of instance 33 returned " + resultName(r) + " (expected kResultFalse)";
  if (!sawMessage(extra.sink->log, "norva.runtimeDiagnostics"))
    return "instance 33 sent no runtime report about its failed set-up";
  if (tresult r = component->setActive(true); r != kResultFalse)
    return "activation of instance 33 returned " + resultName(r) + " (expected kResultFalse)";
  // The host may still call process on it; nothing is played.
  Block block;
  block.note(0, 64, 1.0f);
  block.run(processor, kBlock);
  if (!block.out->events().empty()) return "instance 33 played events without a kernel";
  // With one instance gone, the 33rd finds room.
  processors[0].plugin.reset();
  if (processor->setupProcessing(setup) != kResultOk || component->setActive(true) != kResultOk)
    return "instance 33 could not be activated after another was released";
  processors.clear();
  return kPass;
}

Reason instancesFreed(Context &c) {
  for (int i = 0; i < kInstanceLimit + 8; ++i) {
    LoneProcessor lone;
    std::string error;
    if (!makeLoneProcessor(c, lone, error)) return error;
    ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
    if (lone.plugin->processor()->setupProcessing(setup) != kResultOk ||
        lone.plugin->component()->setActive(true) != kResultOk)
      return "instance " + std::to_string(i + 1) + " made one after another could not be activated";
  }
  return kPass;
}

Reason releaseOrders(Context &c) {
  using Teardown = PluginInstance::Teardown;
  const std::pair<Teardown, const char *> orders[] = {
      {Teardown::ControllerFirst, "controller first"},
      {Teardown::ProcessorFirst, "processor first"},
      {Teardown::TerminateConnected, "terminate while connected"},
      {Teardown::WithoutTerminate, "release without terminate"},
  };
  const uint32 hostCount = countOf(c.host);
  for (const auto &[order, what] : orders) {
    Reason reason;
    std::unique_ptr<PluginInstance> plugin = startedPlugin(c, reason);
    if (plugin == nullptr) return reason;
    std::vector<Played> played;
    if (Reason r = render(plugin->processor(), 4 * kBlock, kBlock, played); !r.empty()) return r;
    plugin->shutdown(order);
    if (hostCensus().proxies != 0) return std::string(what) + ": a connection proxy was kept";
    if (countOf(c.host) != hostCount) return std::string(what) + ": the host context was kept";
  }
  return kPass;
}

Reason hostObjectsReleased(Context &c) {
  HostCensus &census = hostCensus();
  if (census.messages != 0) return std::to_string(census.messages) + " messages were never released";
  if (census.attributeLists != 0)
    return std::to_string(census.attributeLists) + " attribute lists were never released";
  if (census.streams != 0) return std::to_string(census.streams) + " streams were kept";
  if (census.proxies != 0) return std::to_string(census.proxies) + " connection proxies were kept";
  if (countOf(c.host) != 1) return "the host context holds " + std::to_string(countOf(c.host) - 1) + " references too many";
  return kPass;
}

struct Check {
  const char *name;
  std::function<Reason(Context &)> run;
};

std::vector<Check> checks() {
  auto processorClass = [](Context &c) {
    return classRecord(c, 0, kVstAudioEffectClass, "Tindrel", kProcessorUid, kDistributable, "Fx");
  };
  auto controllerClass = [](Context &c) {
    return classRecord(c, 1, kVstComponentControllerClass, "Tindrel Controller", kControllerUid, 0, "");
  };
  return {
      {"module entry is reference counted", moduleEntryCounted},
      {"factory is one object", factorySingleton},
      {"factory info", factoryInfo},
      {"factory interfaces", factoryInterfaces},
      {"processor class record", processorClass},
      {"controller class record", controllerClass},
      {"class records agree", classRecordsAgree},
      {"class index out of range", classIndexRange},
      {"creation refusals", createRefusals},
      {"processor interfaces and reference counts", processorInterfaces},
      {"controller interfaces and reference counts", controllerInterfaces},
      {"controller MIDI mapping", controllerMidiMapping},
      {"controller class id", controllerClassId},
      {"no host context", withoutHostContext},
      {"buses", buses},
      {"parameters", parameters},
      {"parameter conversions", parameterConversions},
      {"parameter texts", parameterTexts},
      {"sample sizes", sampleSizes},
      {"bus arrangements", busArrangements},
      {"latency", latency},
      {"set-up at several rates and block sizes", setupRange},
      {"set-up limits", setupLimits},
      {"empty blocks", emptyBlocks},
      {"default pattern", defaultPattern},
      {"parameter changes", parameterChangesApply},
      {"parameter ids above 52", unknownParameterIds},
      {"crowded block", crowdedBlock},
      {"refusing output list", refusingOutputList},
      {"note-on with velocity 0", velocityZeroNoteOn},
      {"parameter change before note", parameterBeforeNote},
      {"64-bit process", process64},
      {"separate instances", separateInstances},
      {"state between instances", stateBetweenInstances},
      {"state set and saved again", stateIdempotent},
      {"state in 7-byte reads", [](Context &c) { return stateInPieces(c, 7); }},
      {"state in 4096-byte reads", [](Context &c) { return stateInPieces(c, 4096); }},
      {"empty, null and failing streams", emptyAndNullStreams},
      {"bad state documents", badDocuments},
      {"tempo-only state document", tempoOnlyDocument},
      {"controller state", controllerOwnState},
      {"messages to the processor", messagesToProcessor},
      {"messages to the controller", messagesToController},
      {"activation cycles", activationCycles},
      {"33 instances at once", manyInstances},
      {"instances one after another", instancesFreed},
      {"release orders", releaseOrders},
      {"host objects released", hostObjectsReleased},
  };
}

} // namespace

bool validatePlugin(const std::string &bundlePath, std::ostream &out) {
  std::string error;
  std::unique_ptr<Vst3Module> module = Vst3Module::load(bundlePath, error);
  if (module == nullptr) {
    out << "FAIL module loads: " << error << "\n0 passed, 1 failed\n";
    return false;
  }
  out << "PASS module loads\n";
  int passed = 1;
  int failed = 0;
  {
    Context context{*module, owned(new HostApplication())};
    for (const Check &check : checks()) {
      const Reason reason = check.run(context);
      if (reason.empty()) {
        out << "PASS " << check.name << '\n';
        ++passed;
      } else {
        out << "FAIL " << check.name << ": " << reason << '\n';
        ++failed;
      }
      out.flush();
    }
  }
  module.reset();
  out << passed << " passed, " << failed << " failed\n";
  return failed == 0;
}

} // namespace norva::probe
