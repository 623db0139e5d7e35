// IPluginBase and the plug-in factory interfaces with their information
// records.
#pragma once

#include "vst3/fstrdefs.h"
#include "vst3/funknown.h"

#include <cstring>

namespace Steinberg {

// initialize/terminate of any plug-in class. The context carries the host
// interfaces the class needs. When initialize fails the host releases the
// object without calling terminate.
class IPluginBase : public FUnknown {
public:
  virtual tresult PLUGIN_API initialize(FUnknown *context) = 0;
  virtual tresult PLUGIN_API terminate() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPluginBase, 0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625)

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

  char8 vendor[kNameSize];
  char8 url[kURLSize];
  char8 email[kEmailSize];
  int32 flags;

  PFactoryInfo() { std::memset(this, 0, sizeof(PFactoryInfo)); }
  PFactoryInfo(const char8 *_vendor, const char8 *_url, const char8 *_email, int32 _flags) {
    std::memset(this, 0, sizeof(PFactoryInfo));
    copyTerminated(vendor, _vendor, kNameSize);
    copyTerminated(url, _url, kURLSize);
    copyTerminated(email, _email, kEmailSize);
    flags = _flags;
  }

  // Copies text into a field of size bytes, truncating so the field stays
  // terminated. Shared by the class records below.
  static void copyTerminated(char8 *field, const char8 *text, int32 size) {
    if (text)
      strncpy8(field, text, uint32(size - 1));
    field[size - 1] = 0;
  }
};

// Version 1 description of one class of the factory.
struct PClassInfo {
  enum ClassCardinality { kManyInstances = 0x7FFFFFFF };
  enum { kCategorySize = 32, kNameSize = 64 };

  TUID cid;
  int32 cardinality;
  char8 category[kCategorySize];
  char8 name[kNameSize];

  PClassInfo() { std::memset(this, 0, sizeof(PClassInfo)); }
  PClassInfo(const TUID _cid, int32 _cardinality, const char8 *_category, const char8 *_name) {
    std::memset(this, 0, sizeof(PClassInfo));
    std::memcpy(cid, _cid, sizeof(TUID));
    cardinality = _cardinality;
    PFactoryInfo::copyTerminated(category, _category, kCategorySize);
    PFactoryInfo::copyTerminated(name, _name, kNameSize);
  }
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

  TUID cid;
  int32 cardinality;
  char8 category[PClassInfo::kCategorySize];
  char8 name[PClassInfo::kNameSize];
  uint32 classFlags;
  char8 subCategories[kSubCategoriesSize]; // "|"-separated, e.g. "Fx|Delay"
  char8 vendor[kVendorSize];               // empty: the factory's vendor
  char8 version[kVersionSize];
  char8 sdkVersion[kVersionSize];

  PClassInfo2() { std::memset(this, 0, sizeof(PClassInfo2)); }
  PClassInfo2(const TUID _cid, int32 _cardinality, const char8 *_category, const char8 *_name,
              int32 _classFlags, const char8 *_subCategories, const char8 *_vendor,
              const char8 *_version, const char8 *_sdkVersion) {
    std::memset(this, 0, sizeof(PClassInfo2));
    std::memcpy(cid, _cid, sizeof(TUID));
    cardinality = _cardinality;
    PFactoryInfo::copyTerminated(category, _category, PClassInfo::kCategorySize);
    PFactoryInfo::copyTerminated(name, _name, PClassInfo::kNameSize);
    classFlags = uint32(_classFlags);
    PFactoryInfo::copyTerminated(subCategories, _subCategories, kSubCategoriesSize);
    PFactoryInfo::copyTerminated(vendor, _vendor, kVendorSize);
    PFactoryInfo::copyTerminated(version, _version, kVersionSize);
    PFactoryInfo::copyTerminated(sdkVersion, _sdkVersion, kVersionSize);
  }
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

  TUID cid;
  int32 cardinality;
  char8 category[PClassInfo::kCategorySize];
  char16 name[PClassInfo::kNameSize];
  uint32 classFlags;
  char8 subCategories[kSubCategoriesSize];
  char16 vendor[kVendorSize];
  char16 version[kVersionSize];
  char16 sdkVersion[kVersionSize];

  PClassInfoW() { std::memset(this, 0, sizeof(PClassInfoW)); }
  PClassInfoW(const TUID _cid, int32 _cardinality, const char8 *_category, const char16 *_name,
              int32 _classFlags, const char8 *_subCategories, const char16 *_vendor,
              const char16 *_version, const char16 *_sdkVersion) {
    std::memset(this, 0, sizeof(PClassInfoW));
    std::memcpy(cid, _cid, sizeof(TUID));
    cardinality = _cardinality;
    PFactoryInfo::copyTerminated(category, _category, PClassInfo::kCategorySize);
    copyTerminated16(name, _name, PClassInfo::kNameSize);
    classFlags = uint32(_classFlags);
    PFactoryInfo::copyTerminated(subCategories, _subCategories, kSubCategoriesSize);
    copyTerminated16(vendor, _vendor, kVendorSize);
    copyTerminated16(version, _version, kVersionSize);
    copyTerminated16(sdkVersion, _sdkVersion, kVersionSize);
  }

  // Fills this record from the 8-bit version, widening the texts.
  void fromAscii(const PClassInfo2 &ci2) {
    std::memset(this, 0, sizeof(PClassInfoW));
    std::memcpy(cid, ci2.cid, sizeof(TUID));
    cardinality = ci2.cardinality;
    PFactoryInfo::copyTerminated(category, ci2.category, PClassInfo::kCategorySize);
    str8ToStr16(name, ci2.name, PClassInfo::kNameSize);
    classFlags = ci2.classFlags;
    PFactoryInfo::copyTerminated(subCategories, ci2.subCategories, kSubCategoriesSize);
    str8ToStr16(vendor, ci2.vendor, kVendorSize);
    str8ToStr16(version, ci2.version, kVersionSize);
    str8ToStr16(sdkVersion, ci2.sdkVersion, kVersionSize);
  }

private:
  static void copyTerminated16(char16 *field, const char16 *text, int32 size) {
    if (text)
      strncpy16(field, text, uint32(size - 1));
    field[size - 1] = 0;
  }
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
