// The plug-in factory interfaces, their information records and the entry
// point every VST 3 module exports. Records start zeroed; filling them from
// texts is in vst3/sdk/pluginfactory.h.
#pragma once

#include "vst3/abi/funknown.h"

namespace Steinberg {

// Vendor information of a factory.
struct PFactoryInfo {
  enum FactoryFlags {
    kNoFlags = 0,
    kClassesDiscardable = 1 << 0,
    kLicenseCheck = 1 << 1,
    kComponentNonDiscardable = 1 << 3,
    kUnicode = 1 << 4 // class names are available as UTF-16 (PClassInfoW)
  };
  enum { kURLSize = 256, kEmailSize = 128, kNameSize = 64 };

  char8 vendor[kNameSize] = {};
  char8 url[kURLSize] = {};
  char8 email[kEmailSize] = {};
  int32 flags = 0;
};

// Version 1 description of one class of the factory.
struct PClassInfo {
  enum ClassCardinality { kManyInstances = 0x7FFFFFFF };
  enum { kCategorySize = 32, kNameSize = 64 };

  TUID cid = {};
  int32 cardinality = 0;
  char8 category[kCategorySize] = {};
  char8 name[kNameSize] = {};
};

class IPluginFactory : public FUnknown {
public:
  virtual tresult PLUGIN_API getFactoryInfo(PFactoryInfo *info) = 0;
  virtual int32 PLUGIN_API countClasses() = 0;
  virtual tresult PLUGIN_API getClassInfo(int32 index, PClassInfo *info) = 0;
  // Creates an instance of class cid and returns its interface _iid in *obj.
  virtual tresult PLUGIN_API createInstance(FIDString cid, FIDString _iid, void **obj) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPluginFactory, 0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F)

// Version 2 class description: adds flags, sub-categories and versions.
struct PClassInfo2 {
  enum { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };

  TUID cid = {};
  int32 cardinality = 0;
  char8 category[PClassInfo::kCategorySize] = {};
  char8 name[PClassInfo::kNameSize] = {};
  uint32 classFlags = 0;
  char8 subCategories[kSubCategoriesSize] = {}; // "|"-separated, e.g. "Fx|Delay"
  char8 vendor[kVendorSize] = {};               // empty: the factory's vendor
  char8 version[kVersionSize] = {};
  char8 sdkVersion[kVersionSize] = {};
};

class IPluginFactory2 : public IPluginFactory {
public:
  virtual tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2 *info) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPluginFactory2, 0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB)

// UTF-16 version of PClassInfo2 (name, vendor and versions are 16-bit).
struct PClassInfoW {
  enum { kVendorSize = 64, kVersionSize = 64, kSubCategoriesSize = 128 };

  TUID cid = {};
  int32 cardinality = 0;
  char8 category[PClassInfo::kCategorySize] = {};
  char16 name[PClassInfo::kNameSize] = {};
  uint32 classFlags = 0;
  char8 subCategories[kSubCategoriesSize] = {};
  char16 vendor[kVendorSize] = {};
  char16 version[kVersionSize] = {};
  char16 sdkVersion[kVersionSize] = {};
};

class IPluginFactory3 : public IPluginFactory2 {
public:
  virtual tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW *info) = 0;
  // The host passes its context (on Linux: the run loop) to the factory.
  virtual tresult PLUGIN_API setHostContext(FUnknown *context) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPluginFactory3, 0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931)

} // namespace Steinberg

// Entry point every VST 3 module exports.
extern "C" {
typedef Steinberg::IPluginFactory *(PLUGIN_API *GetFactoryProc)();
}
