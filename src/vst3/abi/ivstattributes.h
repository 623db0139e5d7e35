// IAttributeList: keyed values carried by a message.
#pragma once

#include "vst3/abi/funknown.h"
#include "vst3/abi/vsttypes.h"

namespace Steinberg {
namespace Vst {

class IAttributeList : public FUnknown {
public:
  typedef const char *AttrID;

  virtual tresult PLUGIN_API setInt(AttrID id, int64 value) = 0;
  virtual tresult PLUGIN_API getInt(AttrID id, int64 &value) = 0;
  virtual tresult PLUGIN_API setFloat(AttrID id, double value) = 0;
  virtual tresult PLUGIN_API getFloat(AttrID id, double &value) = 0;
  // UTF-16, NUL-terminated.
  virtual tresult PLUGIN_API setString(AttrID id, const TChar *string) = 0;
  // sizeInBytes is the buffer size in bytes, not in characters.
  virtual tresult PLUGIN_API getString(AttrID id, TChar *string, uint32 sizeInBytes) = 0;
  virtual tresult PLUGIN_API setBinary(AttrID id, const void *data, uint32 sizeInBytes) = 0;
  // The data stays owned by the list.
  virtual tresult PLUGIN_API getBinary(AttrID id, const void *&data, uint32 &sizeInBytes) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IAttributeList, 0x1E5F0AEB, 0xCC7F4533, 0xA2544011, 0x38AD5EE4)

} // namespace Vst
} // namespace Steinberg
