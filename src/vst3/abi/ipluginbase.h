// IPluginBase: initialize/terminate of any plug-in class.
#pragma once

#include "vst3/abi/funknown.h"

namespace Steinberg {

// The context carries the host interfaces the class needs. When initialize
// fails the host releases the object without calling terminate.
class IPluginBase : public FUnknown {
public:
  virtual tresult PLUGIN_API initialize(FUnknown *context) = 0;
  virtual tresult PLUGIN_API terminate() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPluginBase, 0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625)

} // namespace Steinberg
