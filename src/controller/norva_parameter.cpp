#include "controller/norva_parameter.h"

#include "vst3/sdk/ustring.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

void asciiToHost(const char *text, String128 out) {
  UString(out, 128).fromAscii(text != nullptr ? text : "");
}

int32 stepCountFor(const norva_param_desc &row) {
  switch (row.kind) {
  case kParamKindList: return row.labelCount >= 2 ? row.labelCount - 1 : 1;
  case kParamKindToggle: return 1;
  default: return 0; // announced as continuous; snapping happens in toPlain
  }
}

} // namespace

NorvaParameter::NorvaParameter(const norva_param_desc &row) : row_(&row) {
  asciiToHost(row.title, info.title);
  asciiToHost(row.title, info.shortTitle);
  asciiToHost(row.units, info.units);
  info.id = row.id;
  info.stepCount = stepCountFor(row);
  info.defaultNormalizedValue = row.defaultNormalized;
  info.unitId = kRootUnitId;
  info.flags = ParameterInfo::kCanAutomate | (row.id == kBypassParamId ? ParameterInfo::kIsBypass : 0);
  valueNormalized = row.defaultNormalized;
}

void NorvaParameter::toString(ParamValue n, String128 string) const {
  char text[129];
  paramToText(*row_, n, text, sizeof text);
  asciiToHost(text, string);
}

bool NorvaParameter::fromString(const TChar *string, ParamValue &n) const {
  if (string == nullptr) return false;
  char text[256];
  UString(const_cast<TChar *>(string), 256).toAscii(text, sizeof text);
  return paramFromText(*row_, text, &n);
}

ParamValue NorvaParameter::toPlain(ParamValue n) const { return paramToPlain(*row_, n); }

ParamValue NorvaParameter::toNormalized(ParamValue plain) const {
  return norva_param_normalize(row_, plain);
}

} // namespace norva
