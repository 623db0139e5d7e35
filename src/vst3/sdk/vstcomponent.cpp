#include "vst3/sdk/vstcomponent.h"

#include <cstring>

namespace Steinberg {
namespace Vst {

Component::Component()
    : audioInputs(kAudio, kInput), audioOutputs(kAudio, kOutput), eventInputs(kEvent, kInput),
      eventOutputs(kEvent, kOutput) {}

tresult PLUGIN_API Component::initialize(FUnknown *context) {
  return ComponentBase::initialize(context);
}

tresult PLUGIN_API Component::terminate() {
  removeAllBusses();
  return ComponentBase::terminate();
}

BusList *Component::getBusList(MediaType type, BusDirection dir) {
  if (dir != kInput && dir != kOutput)
    return nullptr;
  if (type == kAudio)
    return dir == kInput ? &audioInputs : &audioOutputs;
  if (type == kEvent)
    return dir == kInput ? &eventInputs : &eventOutputs;
  return nullptr;
}

tresult Component::removeAudioBusses() {
  audioInputs.clear();
  audioOutputs.clear();
  return kResultOk;
}

tresult Component::removeEventBusses() {
  eventInputs.clear();
  eventOutputs.clear();
  return kResultOk;
}

tresult Component::removeAllBusses() {
  removeAudioBusses();
  removeEventBusses();
  return kResultOk;
}

tresult Component::renameBus(MediaType type, BusDirection dir, int32 index,
                             const String128 newName) {
  BusList *list = getBusList(type, dir);
  if (!list || index < 0 || index >= int32(list->size()))
    return kInvalidArgument;
  (*list)[size_t(index)]->setName(newName);
  return kResultTrue;
}

tresult PLUGIN_API Component::getControllerClassId(TUID classID) {
  if (!classID || !uidIsValid(controllerClass))
    return kResultFalse;
  std::memcpy(classID, controllerClass.toTUID(), sizeof(TUID));
  return kResultTrue;
}

tresult PLUGIN_API Component::setIoMode(IoMode /*mode*/) { return kNotImplemented; }

int32 PLUGIN_API Component::getBusCount(MediaType type, BusDirection dir) {
  const BusList *list = getBusList(type, dir);
  return list ? int32(list->size()) : 0;
}

tresult PLUGIN_API Component::getBusInfo(MediaType type, BusDirection dir, int32 index,
                                         BusInfo &info) {
  BusList *list = getBusList(type, dir);
  if (!list || index < 0 || index >= int32(list->size()))
    return kInvalidArgument;
  info.mediaType = type;
  info.direction = dir;
  return (*list)[size_t(index)]->getInfo(info) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API Component::getRoutingInfo(RoutingInfo & /*inInfo*/,
                                             RoutingInfo & /*outInfo*/) {
  return kNotImplemented;
}

tresult PLUGIN_API Component::activateBus(MediaType type, BusDirection dir, int32 index,
                                          TBool state) {
  BusList *list = getBusList(type, dir);
  if (!list || index < 0 || index >= int32(list->size()))
    return kInvalidArgument;
  (*list)[size_t(index)]->setActive(state);
  return kResultTrue;
}

tresult PLUGIN_API Component::setActive(TBool /*state*/) { return kResultOk; }

tresult PLUGIN_API Component::setState(IBStream * /*state*/) { return kNotImplemented; }

tresult PLUGIN_API Component::getState(IBStream * /*state*/) { return kNotImplemented; }

} // namespace Vst
} // namespace Steinberg
