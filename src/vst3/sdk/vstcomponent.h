// Component: IComponent on top of ComponentBase — the bus lists, the
// controller class id and the defaults of the remaining IComponent methods.
#pragma once

#include "vst3/abi/ivstcomponent.h"
#include "vst3/sdk/vstbus.h"
#include "vst3/sdk/vstcomponentbase.h"

namespace Steinberg {
namespace Vst {

class Component : public ComponentBase, public IComponent {
public:
  Component();

  // Class id answered by getControllerClassId.
  void setControllerClass(const FUID &cid) { controllerClass = cid; }

  tresult removeAudioBusses();
  tresult removeEventBusses();
  tresult renameBus(MediaType type, BusDirection dir, int32 index, const String128 newName);

  // IComponent
  // kResultTrue with the id once setControllerClass was given a valid one,
  // else kResultFalse.
  tresult PLUGIN_API getControllerClassId(TUID classID) override;
  tresult PLUGIN_API setIoMode(IoMode mode) override;           // kNotImplemented
  int32 PLUGIN_API getBusCount(MediaType type, BusDirection dir) override;
  // kInvalidArgument for an unknown list or an index out of range.
  tresult PLUGIN_API getBusInfo(MediaType type, BusDirection dir, int32 index,
                                BusInfo &info) override;
  tresult PLUGIN_API getRoutingInfo(RoutingInfo &inInfo, RoutingInfo &outInfo) override;
  tresult PLUGIN_API activateBus(MediaType type, BusDirection dir, int32 index,
                                 TBool state) override;
  tresult PLUGIN_API setActive(TBool state) override;       // kResultOk
  tresult PLUGIN_API setState(IBStream *state) override;    // kNotImplemented
  tresult PLUGIN_API getState(IBStream *state) override;    // kNotImplemented

  // IPluginBase
  tresult PLUGIN_API initialize(FUnknown *context) override;
  // Removes every bus, then ComponentBase::terminate.
  tresult PLUGIN_API terminate() override;

  OBJ_METHODS(Component, ComponentBase)
  DEFINE_INTERFACES
  DEF_INTERFACE(IComponent)
  END_DEFINE_INTERFACES(ComponentBase)
  REFCOUNT_METHODS(ComponentBase)

protected:
  // The list for a media type and direction; null for anything else.
  BusList *getBusList(MediaType type, BusDirection dir);
  tresult removeAllBusses();

  FUID controllerClass;
  BusList audioInputs;
  BusList audioOutputs;
  BusList eventInputs;
  BusList eventOutputs;
};

} // namespace Vst
} // namespace Steinberg
