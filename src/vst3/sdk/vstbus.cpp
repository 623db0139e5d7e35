#include "vst3/sdk/vstbus.h"

#include "vst3/sdk/fstrdefs.h"
#include "vst3/sdk/speakerarr.h"
#include "vst3/sdk/ustring.h"

namespace Steinberg {
namespace Vst {

Bus::Bus(const TChar *busName, BusType type, int32 busFlags)
    : name{}, busType(type), flags(busFlags), active(false) {
  setName(busName);
}

void Bus::setName(const TChar *newName) {
  UString(name, str16BufferSize(String128)).assign(newName ? newName : kEmptyString16);
}

bool Bus::getInfo(BusInfo &info) {
  UString(info.name, str16BufferSize(String128)).assign(name);
  info.busType = busType;
  info.flags = uint32(flags);
  return true;
}

EventBus::EventBus(const TChar *busName, BusType type, int32 busFlags, int32 channels)
    : Bus(busName, type, busFlags), channelCount(channels) {}

bool EventBus::getInfo(BusInfo &info) {
  info.channelCount = channelCount;
  return Bus::getInfo(info);
}

AudioBus::AudioBus(const TChar *busName, BusType type, int32 busFlags, SpeakerArrangement arr)
    : Bus(busName, type, busFlags), speakerArr(arr) {}

bool AudioBus::getInfo(BusInfo &info) {
  info.channelCount = SpeakerArr::getChannelCount(speakerArr);
  return Bus::getInfo(info);
}

} // namespace Vst
} // namespace Steinberg
