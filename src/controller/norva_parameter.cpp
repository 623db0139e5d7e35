#include "controller/norva_parameter.h"

#include "vst3/sdk/ustring.h"

namespace norva {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

void asciiToHost(const char *text, String128 out) {
  UString(out, 128).fromAscii(text != nullptr ? text : "");
}

} // namespace

NorvaParameter::NorvaParameter(const norva_param_desc &row, const Parameter *keyRoot)
    : row_(&row), keyRoot_(keyRoot) {
  asciiToHost(row.title, info.title);
  asciiToHost(row.title, info.shortTitle);
  asciiToHost(row.units, info.units);
  info.id = row.id;
  info.stepCount = paramStepCount(row);
  info.defaultNormalizedValue = row.defaultNormalized;
  info.unitId = paramUnitId(row);
  info.flags = ParameterInfo::kCanAutomate | (paramIsList(row) ? ParameterInfo::kIsList : 0) |
               (row.id == kBypassParamId ? ParameterInfo::kIsBypass : 0);
  valueNormalized = row.defaultNormalized;
}

void NorvaParameter::toString(ParamValue n, String128 string) const {
  char text[129];
  paramToText(*row_, n, text, sizeof text, keyRoot());
  asciiToHost(text, string);
}

bool NorvaParameter::fromString(const TChar *string, ParamValue &n) const {
  if (string == nullptr) return false;
  char text[256];
  UString(const_cast<TChar *>(string), 256).toAscii(text, sizeof text);
  return paramFromText(*row_, text, &n, keyRoot());
}

int NorvaParameter::keyRoot() const {
  if (keyRoot_ == nullptr) return 0;
  return int(keyRoot_->toPlain(keyRoot_->getNormalized()));
}

ParamValue NorvaParameter::toPlain(ParamValue n) const { return paramToPlain(*row_, n); }

ParamValue NorvaParameter::toNormalized(ParamValue plain) const {
  return norva_param_normalize(row_, plain);
}

} // namespace norva
