#include "vst3/sdk/vsteditcontroller.h"

#include "vst3/sdk/fstrdefs.h"
#include "vst3/sdk/ustring.h"

#include <cstring>

namespace Steinberg {
namespace Vst {

KnobMode EditController::hostKnobMode = kCircularMode;

EditController::EditController() : componentHandler(nullptr), componentHandler2(nullptr) {}

EditController::~EditController() {
  SafeRelease(componentHandler2);
  SafeRelease(componentHandler);
}

tresult PLUGIN_API EditController::initialize(FUnknown *context) {
  return ComponentBase::initialize(context);
}

tresult PLUGIN_API EditController::terminate() {
  parameters.removeAll();
  SafeRelease(componentHandler2);
  SafeRelease(componentHandler);
  return ComponentBase::terminate();
}

tresult PLUGIN_API EditController::setComponentState(IBStream * /*state*/) {
  return kNotImplemented;
}

tresult PLUGIN_API EditController::setState(IBStream * /*state*/) { return kNotImplemented; }

tresult PLUGIN_API EditController::getState(IBStream * /*state*/) { return kNotImplemented; }

int32 PLUGIN_API EditController::getParameterCount() { return parameters.getParameterCount(); }

tresult PLUGIN_API EditController::getParameterInfo(int32 paramIndex, ParameterInfo &info) {
  Parameter *parameter = parameters.getParameterByIndex(paramIndex);
  if (!parameter)
    return kResultFalse;
  info = parameter->getInfo();
  return kResultTrue;
}

tresult PLUGIN_API EditController::getParamStringByValue(ParamID tag, ParamValue valueNormalized,
                                                         String128 string) {
  Parameter *parameter = getParameterObject(tag);
  if (!parameter || !string)
    return kResultFalse;
  parameter->toString(valueNormalized, string);
  return kResultTrue;
}

tresult PLUGIN_API EditController::getParamValueByString(ParamID tag, TChar *string,
                                                         ParamValue &valueNormalized) {
  Parameter *parameter = getParameterObject(tag);
  if (!parameter || !string)
    return kResultFalse;
  return parameter->fromString(string, valueNormalized) ? kResultTrue : kResultFalse;
}

ParamValue PLUGIN_API EditController::normalizedParamToPlain(ParamID tag,
                                                             ParamValue valueNormalized) {
  Parameter *parameter = getParameterObject(tag);
  return parameter ? parameter->toPlain(valueNormalized) : valueNormalized;
}

ParamValue PLUGIN_API EditController::plainParamToNormalized(ParamID tag, ParamValue plainValue) {
  Parameter *parameter = getParameterObject(tag);
  return parameter ? parameter->toNormalized(plainValue) : plainValue;
}

ParamValue PLUGIN_API EditController::getParamNormalized(ParamID tag) {
  Parameter *parameter = getParameterObject(tag);
  return parameter ? parameter->getNormalized() : 0.0;
}

tresult PLUGIN_API EditController::setParamNormalized(ParamID tag, ParamValue value) {
  Parameter *parameter = getParameterObject(tag);
  if (!parameter)
    return kResultFalse;
  parameter->setNormalized(value);
  return kResultTrue;
}

tresult PLUGIN_API EditController::setComponentHandler(IComponentHandler *handler) {
  if (handler == componentHandler)
    return kResultTrue;
  if (handler)
    handler->addRef();
  SafeRelease(componentHandler);
  componentHandler = handler;

  SafeRelease(componentHandler2);
  if (handler &&
      handler->queryInterface(IComponentHandler2::iid, reinterpret_cast<void **>(
                                                           &componentHandler2)) != kResultOk)
    componentHandler2 = nullptr;
  return kResultTrue;
}

tresult EditController::beginEdit(ParamID tag) {
  return componentHandler ? componentHandler->beginEdit(tag) : kResultFalse;
}

tresult EditController::performEdit(ParamID tag, ParamValue valueNormalized) {
  return componentHandler ? componentHandler->performEdit(tag, valueNormalized) : kResultFalse;
}

tresult EditController::endEdit(ParamID tag) {
  return componentHandler ? componentHandler->endEdit(tag) : kResultFalse;
}

tresult EditController::startGroupEdit() {
  return componentHandler2 ? componentHandler2->startGroupEdit() : kNotImplemented;
}

tresult EditController::finishGroupEdit() {
  return componentHandler2 ? componentHandler2->finishGroupEdit() : kNotImplemented;
}

tresult EditController::setDirty(TBool state) {
  return componentHandler2 ? componentHandler2->setDirty(state) : kNotImplemented;
}

tresult EditController::requestOpenEditor(FIDString name) {
  return componentHandler2 ? componentHandler2->requestOpenEditor(name) : kNotImplemented;
}

tresult EditController::getParameterInfoByTag(ParamID tag, ParameterInfo &info) {
  Parameter *parameter = getParameterObject(tag);
  if (!parameter)
    return kResultFalse;
  info = parameter->getInfo();
  return kResultTrue;
}

Unit::Unit(const String128 name, UnitID unitId, UnitID parentUnitId,
           ProgramListID programListId) {
  std::memset(&info, 0, sizeof(UnitInfo));
  info.id = unitId;
  info.parentUnitId = parentUnitId;
  info.programListId = programListId;
  setName(name);
}

Unit::Unit(const UnitInfo &unit) : info(unit) {}

void Unit::setName(const String128 newName) {
  UString(info.name, str16BufferSize(String128)).assign(newName ? newName : kEmptyString16);
}

EditControllerEx1::EditControllerEx1() : selectedUnit(kRootUnitId) {}

bool EditControllerEx1::addUnit(Unit *unit) {
  if (!unit)
    return false;
  units.push_back(IPtr<Unit>(unit, false));
  return true;
}

tresult EditControllerEx1::notifyUnitSelection() {
  FUnknownPtr<IUnitHandler> unitHandler(componentHandler);
  return unitHandler ? unitHandler->notifyUnitSelection(selectedUnit) : kResultFalse;
}

int32 PLUGIN_API EditControllerEx1::getUnitCount() {
  return units.empty() ? 1 : int32(units.size());
}

tresult PLUGIN_API EditControllerEx1::getUnitInfo(int32 unitIndex, UnitInfo &info) {
  if (units.empty()) {
    if (unitIndex != 0)
      return kResultFalse;
    std::memset(&info, 0, sizeof(UnitInfo));
    info.id = kRootUnitId;
    info.parentUnitId = kNoParentUnitId;
    info.programListId = kNoProgramListId;
    UString(info.name, str16BufferSize(String128)).fromAscii("Root");
    return kResultTrue;
  }
  if (unitIndex < 0 || unitIndex >= int32(units.size()))
    return kResultFalse;
  info = units[size_t(unitIndex)]->getInfo();
  return kResultTrue;
}

tresult PLUGIN_API EditControllerEx1::getProgramListInfo(int32 /*listIndex*/,
                                                         ProgramListInfo & /*info*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::getProgramName(ProgramListID /*listId*/,
                                                     int32 /*programIndex*/,
                                                     String128 /*name*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::getProgramInfo(ProgramListID /*listId*/,
                                                     int32 /*programIndex*/,
                                                     CString /*attributeId*/,
                                                     String128 /*attributeValue*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::hasProgramPitchNames(ProgramListID /*listId*/,
                                                           int32 /*programIndex*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::getProgramPitchName(ProgramListID /*listId*/,
                                                          int32 /*programIndex*/,
                                                          int16 /*midiPitch*/,
                                                          String128 /*name*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::getUnitByBus(MediaType /*type*/, BusDirection /*dir*/,
                                                   int32 /*busIndex*/, int32 /*channel*/,
                                                   UnitID & /*unitId*/) {
  return kResultFalse;
}

tresult PLUGIN_API EditControllerEx1::setUnitProgramData(int32 /*listOrUnitId*/,
                                                         int32 /*programIndex*/,
                                                         IBStream * /*data*/) {
  return kResultFalse;
}

} // namespace Vst
} // namespace Steinberg
