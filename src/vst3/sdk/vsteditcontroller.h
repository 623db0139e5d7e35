// EditController (IEditController, IEditController2 and, through
// ComponentBase, IConnectionPoint) and EditControllerEx1 (adds IUnitInfo).
#pragma once

#include "vst3/abi/ivsteditcontroller.h"
#include "vst3/abi/ivstunits.h"
#include "vst3/sdk/vstcomponentbase.h"
#include "vst3/sdk/vstparameters.h"

#include <vector>

namespace Steinberg {
class IPlugView;

namespace Vst {

class EditController : public ComponentBase, public IEditController, public IEditController2 {
public:
  EditController();
  ~EditController() override;

  // IEditController. The state calls return kNotImplemented; the parameter
  // calls go to the parameter with the given id (unknown ids: kResultFalse,
  // conversions return their input, getParamNormalized returns 0).
  tresult PLUGIN_API setComponentState(IBStream *state) override;
  tresult PLUGIN_API setState(IBStream *state) override;
  tresult PLUGIN_API getState(IBStream *state) override;
  int32 PLUGIN_API getParameterCount() override;
  tresult PLUGIN_API getParameterInfo(int32 paramIndex, ParameterInfo &info) override;
  tresult PLUGIN_API getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                           String128 string) override;
  tresult PLUGIN_API getParamValueByString(ParamID tag, TChar *string,
                                           ParamValue &valueNormalized) override;
  ParamValue PLUGIN_API normalizedParamToPlain(ParamID tag, ParamValue valueNormalized) override;
  ParamValue PLUGIN_API plainParamToNormalized(ParamID tag, ParamValue plainValue) override;
  ParamValue PLUGIN_API getParamNormalized(ParamID tag) override;
  tresult PLUGIN_API setParamNormalized(ParamID tag, ParamValue value) override;
  // Keeps a reference to the handler and, when it offers one, to its
  // IComponentHandler2.
  tresult PLUGIN_API setComponentHandler(IComponentHandler *handler) override;
  IPlugView *PLUGIN_API createView(FIDString /*name*/) override { return nullptr; }

  // IEditController2
  tresult PLUGIN_API setKnobMode(KnobMode mode) override {
    hostKnobMode = mode;
    return kResultTrue;
  }
  tresult PLUGIN_API openHelp(TBool /*onlyCheck*/) override { return kResultFalse; }
  tresult PLUGIN_API openAboutBox(TBool /*onlyCheck*/) override { return kResultFalse; }

  // IPluginBase
  tresult PLUGIN_API initialize(FUnknown *context) override;
  // Drops the parameters and the component handler, then
  // ComponentBase::terminate.
  tresult PLUGIN_API terminate() override;

  // Edits reported to the host's component handler; kResultFalse without one.
  virtual tresult beginEdit(ParamID tag);
  virtual tresult performEdit(ParamID tag, ParamValue valueNormalized);
  virtual tresult endEdit(ParamID tag);
  // Through IComponentHandler2; kNotImplemented when the host has none.
  virtual tresult startGroupEdit();
  virtual tresult finishGroupEdit();
  virtual tresult setDirty(TBool state);
  virtual tresult requestOpenEditor(FIDString name = ViewType::kEditor);

  static KnobMode getHostKnobMode() { return hostKnobMode; }

  virtual Parameter *getParameterObject(ParamID tag) { return parameters.getParameter(tag); }
  virtual tresult getParameterInfoByTag(ParamID tag, ParameterInfo &info);

  IComponentHandler *getComponentHandler() const { return componentHandler; }

  OBJ_METHODS(EditController, ComponentBase)
  DEFINE_INTERFACES
  DEF_INTERFACE(IEditController)
  DEF_INTERFACE(IEditController2)
  END_DEFINE_INTERFACES(ComponentBase)
  REFCOUNT_METHODS(ComponentBase)

protected:
  IComponentHandler *componentHandler;
  IComponentHandler2 *componentHandler2;
  ParameterContainer parameters;

  static KnobMode hostKnobMode;
};

// One unit of the plug-in's structure.
class Unit : public FObject {
public:
  Unit(const String128 name, UnitID unitId, UnitID parentUnitId = kRootUnitId,
       ProgramListID programListId = kNoProgramListId);
  explicit Unit(const UnitInfo &unit);

  const UnitInfo &getInfo() const { return info; }
  UnitID getID() const { return info.id; }
  void setID(UnitID newID) { info.id = newID; }
  const TChar *getName() const { return info.name; }
  void setName(const String128 newName);
  ProgramListID getProgramListID() const { return info.programListId; }
  void setProgramListID(ProgramListID newID) { info.programListId = newID; }

  OBJ_METHODS(Unit, FObject)

protected:
  UnitInfo info;
};

// EditController with IUnitInfo. Until the subclass adds units of its own,
// the controller reports one root unit (id kRootUnitId, no parent, no
// program list, named "Root"), which is what IUnitInfo requires at least.
// Program lists are not supported: counts are 0 and queries kResultFalse.
class EditControllerEx1 : public EditController, public IUnitInfo {
public:
  EditControllerEx1();

  // Takes over the caller's reference to unit.
  bool addUnit(Unit *unit);
  // Asks the host's IUnitHandler (if any) to show the selected unit.
  virtual tresult notifyUnitSelection();

  // IUnitInfo
  int32 PLUGIN_API getUnitCount() override;
  tresult PLUGIN_API getUnitInfo(int32 unitIndex, UnitInfo &info) override;
  int32 PLUGIN_API getProgramListCount() override { return 0; }
  tresult PLUGIN_API getProgramListInfo(int32 listIndex, ProgramListInfo &info) override;
  tresult PLUGIN_API getProgramName(ProgramListID listId, int32 programIndex,
                                    String128 name) override;
  tresult PLUGIN_API getProgramInfo(ProgramListID listId, int32 programIndex,
                                    CString attributeId, String128 attributeValue) override;
  tresult PLUGIN_API hasProgramPitchNames(ProgramListID listId, int32 programIndex) override;
  tresult PLUGIN_API getProgramPitchName(ProgramListID listId, int32 programIndex,
                                         int16 midiPitch, String128 name) override;
  UnitID PLUGIN_API getSelectedUnit() override { return selectedUnit; }
  tresult PLUGIN_API selectUnit(UnitID unitId) override {
    selectedUnit = unitId;
    return kResultTrue;
  }
  tresult PLUGIN_API getUnitByBus(MediaType type, BusDirection dir, int32 busIndex, int32 channel,
                                  UnitID &unitId) override;
  tresult PLUGIN_API setUnitProgramData(int32 listOrUnitId, int32 programIndex,
                                        IBStream *data) override;

  OBJ_METHODS(EditControllerEx1, EditController)
  DEFINE_INTERFACES
  DEF_INTERFACE(IUnitInfo)
  END_DEFINE_INTERFACES(EditController)
  REFCOUNT_METHODS(EditController)

protected:
  std::vector<IPtr<Unit>> units;
  UnitID selectedUnit;
};

} // namespace Vst
} // namespace Steinberg
