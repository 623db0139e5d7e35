// FUnknown, the root of every VST 3 interface, with the 16-byte identifiers
// (TUID/FUID) and the result codes.
//
// Identifiers are written as four 32-bit words. On the non-COM platforms each
// word is stored most significant byte first, so the words 0x67EE543A, ...
// give the bytes 67 EE 54 3A ... in that order.
//
// Declarations only: comparing, printing and parsing identifiers, the
// queryInterface helpers and the reference-holding pointers are in
// vst3/sdk/funknownimpl.h.
#pragma once

#include "vst3/abi/ftypes.h"

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

// A 16-byte identifier held by value: built from its four words, read as a
// TUID.
class FUID {
public:
  typedef char8 String[33]; // 32 hexadecimal digits and the terminator

  constexpr FUID() : data{} {}
  constexpr FUID(uint32 l1, uint32 l2, uint32 l3, uint32 l4) : data INLINE_UID(l1, l2, l3, l4) {}

  constexpr operator const TUID &() const { return data; }
  constexpr const TUID &toTUID() const { return data; }

protected:
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

} // namespace Steinberg
