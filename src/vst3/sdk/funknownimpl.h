// The working side of FUnknown and FUID: comparing, printing and parsing
// identifiers, the queryInterface building block, and pointers that obtain an
// interface by queryInterface or release one on leaving scope.
#pragma once

#include "vst3/abi/funknown.h"
#include "vst3/sdk/smartpointer.h"

// queryInterface building block: answers iid InterfaceIID with this object
// seen as InterfaceName, adding a reference.
#define QUERY_INTERFACE(iid, obj, InterfaceIID, InterfaceName)                                     \
  if (::Steinberg::FUnknownPrivate::iidEqual(iid, InterfaceIID)) {                                 \
    addRef();                                                                                      \
    *(obj) = static_cast<InterfaceName *>(this);                                                   \
    return ::Steinberg::kResultOk;                                                                 \
  }

namespace Steinberg {

namespace FUnknownPrivate {
// True when the 16 bytes at iid1 and iid2 are equal.
bool iidEqual(const void *iid1, const void *iid2);
// Atomically adds amount to value and returns the new value.
int32 PLUGIN_API atomicAdd(int32 &value, int32 amount);
} // namespace FUnknownPrivate

// The identifier whose 16 bytes are uid (all zero for a null uid).
FUID uidFromTUID(const TUID uid);
// True unless all 16 bytes are zero.
bool uidIsValid(const FUID &uid);
// 32 upper-case hexadecimal digits, one pair per byte, NUL-terminated.
void uidToString(const FUID &uid, FUID::String text);
// Reads 32 hexadecimal digits into uid; false (and no change) for anything else.
bool uidFromString(FUID &uid, const char8 *text);

template <typename T> const TUID &getTUID() { return T::iid.toTUID(); }

// Smart pointer that obtains interface I from any FUnknown by queryInterface.
template <class I> class FUnknownPtr : public IPtr<I> {
public:
  FUnknownPtr() = default;
  FUnknownPtr(FUnknown *unknown) {
    if (unknown && unknown->queryInterface(getTUID<I>(), reinterpret_cast<void **>(&this->ptr)) !=
                       kResultOk)
      this->ptr = nullptr;
  }
  FUnknownPtr(const FUnknownPtr &p) : IPtr<I>(p) {}
  FUnknownPtr(FUnknownPtr &&p) noexcept : IPtr<I>(static_cast<IPtr<I> &&>(p)) {}
  FUnknownPtr &operator=(const FUnknownPtr &p) {
    IPtr<I>::operator=(p);
    return *this;
  }
  FUnknownPtr &operator=(FUnknownPtr &&p) noexcept {
    IPtr<I>::operator=(static_cast<IPtr<I> &&>(p));
    return *this;
  }
  I *operator=(FUnknown *unknown) {
    I *found = nullptr;
    if (unknown &&
        unknown->queryInterface(getTUID<I>(), reinterpret_cast<void **>(&found)) == kResultOk) {
      IPtr<I>::operator=(found);
      found->release(); // the pointer above holds its own reference
      return found;
    }
    IPtr<I>::operator=(static_cast<I *>(nullptr));
    return nullptr;
  }
  I *getInterface() { return this->ptr; }
};

// Releases an interface when leaving scope.
struct FReleaser {
  FReleaser(FUnknown *unknown) : u(unknown) {}
  ~FReleaser() {
    if (u)
      u->release();
  }
  FReleaser(const FReleaser &) = delete;
  FReleaser &operator=(const FReleaser &) = delete;
  FUnknown *u;
};

} // namespace Steinberg
