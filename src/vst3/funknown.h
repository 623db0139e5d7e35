// FUnknown, the root of every VST 3 interface, with the 16-byte identifiers
// (TUID/FUID) and the result codes.
//
// Identifiers are written as four 32-bit words. On the non-COM platforms each
// word is stored most significant byte first, so the words 0x67EE543A, ...
// give the bytes 67 EE 54 3A ... in that order.
#pragma once

#include "vst3/ftypes.h"
#include "vst3/smartpointer.h"

#include <cstring>

// The 16 bytes of an identifier, as an initialiser for a TUID.
#define INLINE_UID(l1, l2, l3, l4)                                                                 \
  {                                                                                                \
    SMTG_UID_BYTE_(l1, 24), SMTG_UID_BYTE_(l1, 16), SMTG_UID_BYTE_(l1, 8), SMTG_UID_BYTE_(l1, 0),  \
        SMTG_UID_BYTE_(l2, 24), SMTG_UID_BYTE_(l2, 16), SMTG_UID_BYTE_(l2, 8),                     \
        SMTG_UID_BYTE_(l2, 0), SMTG_UID_BYTE_(l3, 24), SMTG_UID_BYTE_(l3, 16),                     \
        SMTG_UID_BYTE_(l3, 8), SMTG_UID_BYTE_(l3, 0), SMTG_UID_BYTE_(l4, 24),                      \
        SMTG_UID_BYTE_(l4, 16), SMTG_UID_BYTE_(l4, 8), SMTG_UID_BYTE_(l4, 0)                       \
  }
#define SMTG_UID_BYTE_(word, shift)                                                                \
  static_cast<::Steinberg::int8>((static_cast<::Steinberg::uint32>(word) >> (shift)) & 0xFFu)

#define DECLARE_UID(name, l1, l2, l3, l4) constexpr ::Steinberg::TUID name = INLINE_UID(l1, l2, l3, l4);
#define EXTERN_UID(name) extern const ::Steinberg::TUID name;

// Placed after an interface's class definition: the raw identifier
// <Interface>_iid and the definition of the static member Interface::iid.
#define DECLARE_CLASS_IID(ClassName, l1, l2, l3, l4)                                               \
  static constexpr ::Steinberg::TUID ClassName##_iid = INLINE_UID(l1, l2, l3, l4);                 \
  inline constexpr ::Steinberg::FUID ClassName::iid{l1, l2, l3, l4};
// DECLARE_CLASS_IID already defines the member; kept so that translation units
// written for the SDK still compile.
#define DEF_CLASS_IID(ClassName)
#define INLINE_UID_OF(ClassName) ClassName##_iid
#define INLINE_UID_FROM_FUID(x) INLINE_UID(x.getLong1(), x.getLong2(), x.getLong3(), x.getLong4())

// queryInterface building block: answers iid InterfaceIID with this object
// seen as InterfaceName, adding a reference.
#define QUERY_INTERFACE(iid, obj, InterfaceIID, InterfaceName)                                     \
  if (::Steinberg::FUnknownPrivate::iidEqual(iid, InterfaceIID)) {                                 \
    addRef();                                                                                      \
    *(obj) = static_cast<InterfaceName *>(this);                                                   \
    return ::Steinberg::kResultOk;                                                                 \
  }

namespace Steinberg {

// Result codes of the non-COM platforms.
enum {
  kNoInterface = -1,
  kResultOk = 0,
  kResultTrue = kResultOk,
  kResultFalse = 1,
  kInvalidArgument = 2,
  kNotImplemented = 3,
  kInternalError = 4,
  kNotInitialized = 5,
  kOutOfMemory = 6
};

typedef char TUID[16];

inline constexpr void copyTUID(char *dst, const char *src) {
  for (int i = 0; i < 16; ++i)
    dst[i] = src[i];
}

namespace FUnknownPrivate {
inline bool iidEqual(const void *iid1, const void *iid2) {
  return std::memcmp(iid1, iid2, sizeof(TUID)) == 0;
}
// Atomically adds amount to value and returns the new value.
int32 PLUGIN_API atomicAdd(int32 &value, int32 amount);
} // namespace FUnknownPrivate

// A 16-byte identifier held by value.
class FUID {
public:
  constexpr FUID() : data{} {}
  constexpr FUID(uint32 l1, uint32 l2, uint32 l3, uint32 l4) : data INLINE_UID(l1, l2, l3, l4) {}
  constexpr FUID(const FUID &other) = default;
  constexpr FUID &operator=(const FUID &other) = default;
  template <size_t N> explicit FUID(const char (&uid)[N]) : data{} {
    static_assert(N == sizeof(TUID), "only a TUID converts to an FUID");
    std::memcpy(data, uid, sizeof(TUID));
  }

  // True unless all 16 bytes are zero.
  bool isValid() const;

  bool operator==(const FUID &f) const { return FUnknownPrivate::iidEqual(data, f.data); }
  bool operator!=(const FUID &f) const { return !(*this == f); }
  bool operator<(const FUID &f) const { return std::memcmp(data, f.data, sizeof(TUID)) < 0; }

  uint32 getLong1() const { return wordAt(0); }
  uint32 getLong2() const { return wordAt(4); }
  uint32 getLong3() const { return wordAt(8); }
  uint32 getLong4() const { return wordAt(12); }

  void from4Int(uint32 d1, uint32 d2, uint32 d3, uint32 d4) { *this = FUID(d1, d2, d3, d4); }
  void to4Int(uint32 &d1, uint32 &d2, uint32 &d3, uint32 &d4) const {
    d1 = getLong1();
    d2 = getLong2();
    d3 = getLong3();
    d4 = getLong4();
  }

  typedef char8 String[33];
  // 32 upper-case hexadecimal digits, one pair per byte, NUL-terminated.
  void toString(char8 *string) const;
  // Reads 32 hexadecimal digits; false (and no change) for anything else.
  bool fromString(const char8 *string);

  void toTUID(TUID result) const { std::memcpy(result, data, sizeof(TUID)); }
  constexpr operator const TUID &() const { return data; }
  constexpr const TUID &toTUID() const { return data; }

  static FUID fromTUID(const TUID uid) {
    FUID result;
    if (uid)
      std::memcpy(result.data, uid, sizeof(TUID));
    return result;
  }

protected:
  uint32 wordAt(int offset) const {
    return (uint32(uint8(data[offset])) << 24) | (uint32(uint8(data[offset + 1])) << 16) |
           (uint32(uint8(data[offset + 2])) << 8) | uint32(uint8(data[offset + 3]));
  }

  TUID data;
};

// The root interface: identity, reference counting.
class FUnknown {
public:
  // On success stores the interface in *obj with a reference added and
  // returns kResultOk; otherwise sets *obj to null and returns kNoInterface.
  virtual tresult PLUGIN_API queryInterface(const TUID _iid, void **obj) = 0;
  // Adds a reference and returns the new count (an object starts at 1).
  virtual uint32 PLUGIN_API addRef() = 0;
  // Drops a reference and returns the new count; the object is destroyed at 0.
  virtual uint32 PLUGIN_API release() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(FUnknown, 0x00000000, 0x00000000, 0xC0000000, 0x00000046)

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
