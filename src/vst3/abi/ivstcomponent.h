// IComponent: the processing half of a plug-in, with its buses.
#pragma once

#include "vst3/abi/ipluginbase.h"
#include "vst3/abi/ipluginfactory.h"
#include "vst3/abi/vsttypes.h"

namespace Steinberg {
class IBStream;

namespace Vst {

// Factory flags a VST 3 module announces.
const int32 kDefaultFactoryFlags = PFactoryInfo::kUnicode;

enum MediaTypes { kAudio = 0, kEvent, kNumMediaTypes };
enum BusDirections { kInput = 0, kOutput };
enum BusTypes { kMain = 0, kAux };

// Description of one bus, as IComponent::getBusInfo returns it.
struct BusInfo {
  MediaType mediaType;   // MediaTypes
  BusDirection direction; // BusDirections
  int32 channelCount;    // audio: channels; event: MIDI channels served
  String128 name;
  BusType busType; // BusTypes
  uint32 flags;    // BusFlags

  enum BusFlags {
    kDefaultActive = 1 << 0,    // the host should activate the bus at instantiation
    kIsControlVoltage = 1 << 1  // audio bus carrying control signals
  };
};

enum IoModes { kSimple = 0, kAdvanced, kOfflineProcessing };

// Relation of an event input channel to an output bus.
struct RoutingInfo {
  MediaType mediaType;
  int32 busIndex;
  int32 channel; // -1: all channels
};

class IComponent : public IPluginBase {
public:
  // Class id of the edit controller belonging to this component.
  virtual tresult PLUGIN_API getControllerClassId(TUID classId) = 0;
  virtual tresult PLUGIN_API setIoMode(IoMode mode) = 0;
  virtual int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) = 0;
  virtual tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                        BusInfo &bus) = 0;
  virtual tresult PLUGIN_API getRoutingInfo(RoutingInfo &inInfo, RoutingInfo &outInfo) = 0;
  virtual tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index,
                                         TBool state) = 0;
  virtual tresult PLUGIN_API setActive(TBool state) = 0;
  virtual tresult PLUGIN_API setState(IBStream *state) = 0;
  virtual tresult PLUGIN_API getState(IBStream *state) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IComponent, 0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802)

} // namespace Vst
} // namespace Steinberg
