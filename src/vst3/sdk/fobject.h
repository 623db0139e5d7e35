// FObject: the reference-counted base of the SDK-role classes, with a small
// run-time class name scheme, and the macros that implement FUnknown in
// classes built on it.
//
//   class MyController : public EditControllerEx1, public IMidiMapping {
//     ...
//     OBJ_METHODS(MyController, EditControllerEx1)
//     DEFINE_INTERFACES
//       DEF_INTERFACE(IMidiMapping)
//     END_DEFINE_INTERFACES(EditControllerEx1)
//     REFCOUNT_METHODS(EditControllerEx1)
//   };
#pragma once

#include "vst3/sdk/funknownimpl.h"

#include <atomic>
#include <cstring>

namespace Steinberg {

typedef FIDString FClassID;

// Starts with one reference (the creator's). addRef/release are atomic;
// the release that brings the count to zero deletes the object.
class FObject : public FUnknown {
public:
  FObject() : refCount(1) {}
  FObject(const FObject &) : FUnknown(), refCount(1) {}
  FObject &operator=(const FObject &) { return *this; }
  virtual ~FObject() = default;

  static FClassID getFClassID() { return "FObject"; }
  virtual FClassID isA() const { return FObject::getFClassID(); }
  virtual bool isA(FClassID s) const { return isTypeOf(s, false); }
  // With askBaseClass, also true for the name of any base class.
  virtual bool isTypeOf(FClassID s, bool /*askBaseClass*/ = true) const {
    return classIDsEqual(s, FObject::getFClassID());
  }

  int32 getRefCount() const { return refCount.load(std::memory_order_relaxed); }
  FUnknown *unknownCast() { return this; }

  // Answers FUnknown only; derived classes add their interfaces in front.
  tresult PLUGIN_API queryInterface(const TUID _iid, void **obj) override;
  uint32 PLUGIN_API addRef() override;
  uint32 PLUGIN_API release() override;

  static bool classIDsEqual(FClassID ci1, FClassID ci2) {
    return ci1 && ci2 && std::strcmp(ci1, ci2) == 0;
  }

protected:
  std::atomic<int32> refCount;
};

// The object as class C when its run-time class is C or derives from C.
template <class C> inline C *FCast(const FObject *object) {
  if (object && object->isTypeOf(C::getFClassID(), true))
    return const_cast<C *>(static_cast<const C *>(object));
  return nullptr;
}

template <class I> inline void SafeRelease(I *&ptr) {
  if (ptr) {
    ptr->release();
    ptr = nullptr;
  }
}

} // namespace Steinberg

// Run-time class name of className, whose direct FObject-based parent is
// baseClass.
#define OBJ_METHODS(className, baseClass)                                                          \
  static ::Steinberg::FClassID getFClassID() { return #className; }                               \
  ::Steinberg::FClassID isA() const override { return className::getFClassID(); }                 \
  bool isA(::Steinberg::FClassID s) const override { return isTypeOf(s, false); }                  \
  bool isTypeOf(::Steinberg::FClassID s, bool askBaseClass = true) const override {                \
    return classIDsEqual(s, #className) || (askBaseClass && baseClass::isTypeOf(s, true));         \
  }

// Forwards reference counting to BaseClass (needed once a class adds
// interfaces of its own, which bring their own pure addRef/release).
#define REFCOUNT_METHODS(BaseClass)                                                                \
  ::Steinberg::uint32 PLUGIN_API addRef() override { return BaseClass::addRef(); }                 \
  ::Steinberg::uint32 PLUGIN_API release() override { return BaseClass::release(); }

// queryInterface answering the listed interfaces first, then whatever
// BaseClass answers.
#define DEFINE_INTERFACES                                                                          \
  ::Steinberg::tresult PLUGIN_API queryInterface(const ::Steinberg::TUID _iid, void **obj)         \
      override {                                                                                   \
    if (!_iid || !obj)                                                                             \
      return ::Steinberg::kInvalidArgument;
#define DEF_INTERFACE(InterfaceName) QUERY_INTERFACE(_iid, obj, InterfaceName::iid, InterfaceName)
#define END_DEFINE_INTERFACES(BaseClass)                                                           \
  return BaseClass::queryInterface(_iid, obj);                                                     \
  }

#define DEF_INTERFACES_1(InterfaceName, BaseClass)                                                 \
  DEFINE_INTERFACES                                                                                \
  DEF_INTERFACE(InterfaceName)                                                                     \
  END_DEFINE_INTERFACES(BaseClass)
#define DEF_INTERFACES_2(InterfaceName1, InterfaceName2, BaseClass)                                \
  DEFINE_INTERFACES                                                                                \
  DEF_INTERFACE(InterfaceName1)                                                                    \
  DEF_INTERFACE(InterfaceName2)                                                                    \
  END_DEFINE_INTERFACES(BaseClass)
