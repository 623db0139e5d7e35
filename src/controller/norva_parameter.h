// NorvaParameter: the host's parameter object for one catalogue row. It keeps
// a pointer to its row and converts with the catalogue's rules.
#pragma once

#include "params/params.h"
#include "vst3/sdk/vstparameters.h"

namespace norva {

class NorvaParameter : public Steinberg::Vst::Parameter {
public:
  // keyRoot: the Key root parameter, whose value names the notes of the
  // scale mask's text; null for every other row.
  explicit NorvaParameter(const norva_param_desc &row, const Steinberg::Vst::Parameter *keyRoot = nullptr);

  void toString(Steinberg::Vst::ParamValue valueNormalized,
                Steinberg::Vst::String128 string) const override;
  bool fromString(const Steinberg::Vst::TChar *string,
                  Steinberg::Vst::ParamValue &valueNormalized) const override;
  Steinberg::Vst::ParamValue toPlain(Steinberg::Vst::ParamValue valueNormalized) const override;
  Steinberg::Vst::ParamValue toNormalized(Steinberg::Vst::ParamValue plainValue) const override;

  const norva_param_desc &row() const { return *row_; }

private:
  int keyRoot() const;

  const norva_param_desc *row_;
  const Steinberg::Vst::Parameter *keyRoot_;
};

} // namespace norva
