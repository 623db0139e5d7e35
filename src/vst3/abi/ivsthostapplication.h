// IHostApplication: the host context passed to initialize.
#pragma once

#include "vst3/abi/ivstmessage.h"

namespace Steinberg {
namespace Vst {

class IHostApplication : public FUnknown {
public:
  virtual tresult PLUGIN_API getName(String128 name) = 0;
  // Creates a host object, e.g. an IMessage (cid and _iid both IMessage::iid).
  virtual tresult PLUGIN_API createInstance(TUID cid, TUID _iid, void **obj) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IHostApplication, 0x58E595CC, 0xDB2D4969, 0x8B6AAF8C, 0x36A664E5)

} // namespace Vst
} // namespace Steinberg
