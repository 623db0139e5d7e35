#include "vst3/sdk/vstparameters.h"

#include "vst3/sdk/fstrdefs.h"
#include "vst3/sdk/ustring.h"

#include <cstring>

namespace Steinberg {
namespace Vst {
namespace {

void setText(String128 field, const TChar *text) {
  UString(field, str16BufferSize(String128)).assign(text ? text : kEmptyString16);
}

} // namespace

Parameter::Parameter() : valueNormalized(0.), precision(4) {
  std::memset(&info, 0, sizeof(ParameterInfo));
}

Parameter::Parameter(const ParameterInfo &parameterInfo)
    : info(parameterInfo), valueNormalized(parameterInfo.defaultNormalizedValue), precision(4) {}

Parameter::Parameter(const TChar *title, ParamID tag, const TChar *units,
                     ParamValue defaultValueNormalized, int32 stepCount, int32 flags,
                     UnitID unitID)
    : precision(4) {
  std::memset(&info, 0, sizeof(ParameterInfo));
  setText(info.title, title);
  setText(info.units, units);
  info.id = tag;
  info.stepCount = stepCount;
  info.defaultNormalizedValue = defaultValueNormalized;
  info.unitId = unitID;
  info.flags = flags;
  valueNormalized = defaultValueNormalized;
}

Parameter::~Parameter() = default;

bool Parameter::setNormalized(ParamValue v) {
  if (v > 1.0)
    v = 1.0;
  else if (v < 0.0)
    v = 0.0;
  if (v == valueNormalized)
    return false;
  valueNormalized = v;
  return true;
}

void Parameter::toString(ParamValue normValue, String128 string) const {
  UString text(string, str16BufferSize(String128));
  if (info.stepCount == 1) {
    text.fromAscii(normValue > 0.5 ? "On" : "Off");
    return;
  }
  if (!text.printFloat(normValue, precision))
    string[0] = 0;
}

bool Parameter::fromString(const TChar *string, ParamValue &normValue) const {
  if (!string)
    return false;
  const UString text(const_cast<TChar *>(string), strlen16(string) + 1);
  return text.scanFloat(normValue);
}

ParamValue Parameter::toPlain(ParamValue normValue) const { return normValue; }

ParamValue Parameter::toNormalized(ParamValue plainValue) const { return plainValue; }

void ParameterContainer::init(int32 initialSize, int32 /*resizeDelta*/) {
  if (initialSize > 0)
    params.reserve(size_t(initialSize));
}

Parameter *ParameterContainer::addParameter(Parameter *p) {
  if (!p)
    return nullptr;
  id2index[p->getInfo().id] = params.size();
  params.push_back(IPtr<Parameter>(p, false));
  return p;
}

Parameter *ParameterContainer::addParameter(const ParameterInfo &info) {
  return addParameter(new Parameter(info));
}

Parameter *ParameterContainer::addParameter(const TChar *title, const TChar *units,
                                            int32 stepCount, ParamValue defaultValueNormalized,
                                            int32 flags, int32 tag, UnitID unitID) {
  if (!title)
    return nullptr;
  const ParamID id = tag >= 0 ? ParamID(tag) : ParamID(getParameterCount());
  return addParameter(
      new Parameter(title, id, units, defaultValueNormalized, stepCount, flags, unitID));
}

Parameter *ParameterContainer::getParameterByIndex(int32 index) {
  if (index < 0 || index >= int32(params.size()))
    return nullptr;
  return params[size_t(index)];
}

Parameter *ParameterContainer::getParameter(ParamID tag) {
  const auto found = id2index.find(tag);
  return found == id2index.end() ? nullptr : params[found->second].get();
}

void ParameterContainer::removeAll() {
  params.clear();
  id2index.clear();
}

} // namespace Vst
} // namespace Steinberg
