// Parameter (one host parameter with its description and normalised value)
// and ParameterContainer (the controller's parameters by index and by id).
#pragma once

#include "vst3/abi/ivsteditcontroller.h"
#include "vst3/abi/ivstunits.h"
#include "vst3/sdk/fobject.h"

#include <map>
#include <vector>

namespace Steinberg {
namespace Vst {

class Parameter : public FObject {
public:
  Parameter();
  // Starts at info.defaultNormalizedValue.
  explicit Parameter(const ParameterInfo &info);
  Parameter(const TChar *title, ParamID tag, const TChar *units = nullptr,
            ParamValue defaultValueNormalized = 0., int32 stepCount = 0,
            int32 flags = ParameterInfo::kCanAutomate, UnitID unitID = kRootUnitId);
  ~Parameter() override;

  const ParameterInfo &getInfo() const { return info; }
  ParameterInfo &getInfo() { return info; }

  void setUnitID(UnitID id) { info.unitId = id; }
  UnitID getUnitID() { return info.unitId; }

  ParamValue getNormalized() const { return valueNormalized; }
  // Clamps v to 0..1; true when the stored value changed.
  virtual bool setNormalized(ParamValue v);

  // Default text: "On"/"Off" for a toggle (stepCount 1), otherwise the
  // normalised value with getPrecision() fraction digits.
  virtual void toString(ParamValue valueNormalized, String128 string) const;
  // Default: a leading decimal number, taken as the normalised value.
  virtual bool fromString(const TChar *string, ParamValue &valueNormalized) const;
  // Default: plain and normalised values are the same.
  virtual ParamValue toPlain(ParamValue valueNormalized) const;
  virtual ParamValue toNormalized(ParamValue plainValue) const;

  int32 getPrecision() const { return precision; }
  void setPrecision(int32 val) { precision = val; }

  OBJ_METHODS(Parameter, FObject)

protected:
  ParameterInfo info;
  ParamValue valueNormalized;
  int32 precision;
};

// Owns its parameters (one reference each). Lookups by index and by id;
// ids map to the parameter added last under that id.
class ParameterContainer {
public:
  ParameterContainer() = default;
  ~ParameterContainer() = default;
  ParameterContainer(const ParameterContainer &) = delete;
  ParameterContainer &operator=(const ParameterContainer &) = delete;

  void init(int32 initialSize = 10, int32 resizeDelta = 100);

  // Takes over the caller's reference to p; returns p (null for null).
  Parameter *addParameter(Parameter *p);
  // A new Parameter from info.
  Parameter *addParameter(const ParameterInfo &info);
  // A new Parameter; tag < 0 means "the next index".
  Parameter *addParameter(const TChar *title, const TChar *units = nullptr, int32 stepCount = 0,
                          ParamValue defaultValueNormalized = 0.,
                          int32 flags = ParameterInfo::kCanAutomate, int32 tag = -1,
                          UnitID unitID = kRootUnitId);

  int32 getParameterCount() const { return int32(params.size()); }
  // Null when index is out of range.
  Parameter *getParameterByIndex(int32 index);
  // Null when no parameter has the id.
  Parameter *getParameter(ParamID tag);

  void removeAll();

protected:
  std::vector<IPtr<Parameter>> params;
  std::map<ParamID, size_t> id2index;
};

} // namespace Vst
} // namespace Steinberg
