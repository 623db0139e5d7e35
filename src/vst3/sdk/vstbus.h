// Bus objects of a component: event buses and audio buses, kept in one
// list per media type and direction.
#pragma once

#include "vst3/abi/ivstaudioprocessor.h"
#include "vst3/abi/ivstcomponent.h"
#include "vst3/sdk/fobject.h"
#include "vst3/sdk/fstrdefs.h"

#include <vector>

namespace Steinberg {
namespace Vst {

class Bus : public FObject {
public:
  // name: UTF-16, truncated to 127 code units.
  Bus(const TChar *name, BusType busType, int32 flags);

  TBool isActive() const { return active; }
  void setActive(TBool state) { active = state; }
  void setName(const TChar *newName);
  const TChar *getName() const { return name; }
  void setBusType(BusType newBusType) { busType = newBusType; }
  void setFlags(uint32 newFlags) { flags = int32(newFlags); }

  // Fills name, bus type and flags; media type and direction are the
  // owning list's.
  virtual bool getInfo(BusInfo &info);

  OBJ_METHODS(Bus, FObject)

protected:
  String128 name;
  BusType busType;
  int32 flags;
  TBool active;
};

class EventBus : public Bus {
public:
  EventBus(const TChar *name, BusType busType, int32 flags, int32 channelCount);

  bool getInfo(BusInfo &info) override;

  OBJ_METHODS(EventBus, Bus)

protected:
  int32 channelCount;
};

class AudioBus : public Bus {
public:
  AudioBus(const TChar *name, BusType busType, int32 flags, SpeakerArrangement arr);

  SpeakerArrangement getArrangement() const { return speakerArr; }
  void setArrangement(const SpeakerArrangement &arr) { speakerArr = arr; }

  // The channel count is the number of speakers in the arrangement.
  bool getInfo(BusInfo &info) override;

  OBJ_METHODS(AudioBus, Bus)

protected:
  SpeakerArrangement speakerArr;
};

// The buses of one media type and direction, in index order.
class BusList : public std::vector<IPtr<Bus>> {
public:
  BusList(MediaType listType, BusDirection dir) : type(listType), direction(dir) {}

  MediaType getType() const { return type; }
  BusDirection getDirection() const { return direction; }

protected:
  MediaType type;
  BusDirection direction;
};

} // namespace Vst
} // namespace Steinberg
