#include "vst3/sdk/fobject.h"

namespace Steinberg {

tresult PLUGIN_API FObject::queryInterface(const TUID _iid, void **obj) {
  if (!_iid || !obj)
    return kInvalidArgument;
  QUERY_INTERFACE(_iid, obj, FUnknown::iid, FUnknown)
  *obj = nullptr;
  return kNoInterface;
}

uint32 PLUGIN_API FObject::addRef() {
  return uint32(refCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

uint32 PLUGIN_API FObject::release() {
  const int32 remaining = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (remaining == 0) {
    delete this;
    return 0;
  }
  return uint32(remaining);
}

} // namespace Steinberg
