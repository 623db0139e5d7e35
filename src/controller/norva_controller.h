// NorvaController: the plug-in's edit controller. It publishes the 53
// catalogue parameters to the host, restores the processor's state document
// into them and keeps its own small state (CC map and pad overrides).
//
// The editor bridge, the cadence clock, CC assignment queries and the bank
// control join this class as the editor and bank work lands.
#pragma once

#include <string>

#include "banks/pad_overrides.h"
#include "ccmap/cc_map.h"
#include "vst3/sdk/vsteditcontroller.h"

namespace norva {

class NorvaController : public Steinberg::Vst::EditControllerEx1, public Steinberg::Vst::IMidiMapping {
public:
  NorvaController();
  ~NorvaController() override;

  static Steinberg::FUnknown *createInstance(void *context);

  Steinberg::tresult PLUGIN_API initialize(Steinberg::FUnknown *context) override;
  Steinberg::tresult PLUGIN_API setComponentState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API setState(Steinberg::IBStream *state) override;
  Steinberg::tresult PLUGIN_API getState(Steinberg::IBStream *state) override;

  // IMidiMapping: the first enabled binding of the CC map that matches.
  Steinberg::tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex,
                                                            Steinberg::int16 channel,
                                                            Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                            Steinberg::Vst::ParamID &id) override;

  OBJ_METHODS(NorvaController, EditControllerEx1)
  DEFINE_INTERFACES
  DEF_INTERFACE(Steinberg::Vst::IMidiMapping)
  END_DEFINE_INTERFACES(EditControllerEx1)
  REFCOUNT_METHODS(EditControllerEx1)

  const std::string &hostName() const { return hostName_; }
  uint8_t validatorHostKind() const { return validatorKind_; }
  const CcMap &ccMap() const { return ccMap_; }
  bool hasCcMap() const { return hasCcMap_; }
  const SamplerPadOverrides &padOverrides() const { return padOverrides_; }

private:
  void captureHostIdentity(Steinberg::FUnknown *context);

  std::string hostName_;
  uint8_t validatorKind_ = 0;
  CcMap ccMap_;
  bool hasCcMap_ = false;
  SamplerPadOverrides padOverrides_;
};

} // namespace norva
