#include "vst3/sdk/pluginfactory.h"

#include <cstring>

#include "vst3/sdk/fstrdefs.h"

namespace Steinberg {

CPluginFactory *gPluginFactory = nullptr;

namespace {

// The fields PClassInfo and PClassInfo2 have in common.
template <class To, class From> void copyCommonPart(To &to, const From &from) {
  std::memcpy(to.cid, from.cid, sizeof(TUID));
  to.cardinality = from.cardinality;
  std::memcpy(to.category, from.category, sizeof(to.category));
  std::memcpy(to.name, from.name, sizeof(to.name));
}

// Copies text into a field of size units, truncating so the field stays
// terminated.
template <class T> void copyTerminated(T *field, const T *text, int32 size) {
  if (text)
    _tstrncpy(field, text, uint32(size - 1));
  field[size - 1] = 0;
}

} // namespace

PFactoryInfo makeFactoryInfo(const char8 *vendor, const char8 *url, const char8 *email,
                             int32 flags) {
  PFactoryInfo info;
  copyTerminated(info.vendor, vendor, PFactoryInfo::kNameSize);
  copyTerminated(info.url, url, PFactoryInfo::kURLSize);
  copyTerminated(info.email, email, PFactoryInfo::kEmailSize);
  info.flags = flags;
  return info;
}

PClassInfo2 makeClassInfo2(const TUID cid, int32 cardinality, const char8 *category,
                           const char8 *name, int32 classFlags, const char8 *subCategories,
                           const char8 *vendor, const char8 *version, const char8 *sdkVersion) {
  PClassInfo2 info;
  std::memcpy(info.cid, cid, sizeof(TUID));
  info.cardinality = cardinality;
  copyTerminated(info.category, category, PClassInfo::kCategorySize);
  copyTerminated(info.name, name, PClassInfo::kNameSize);
  info.classFlags = uint32(classFlags);
  copyTerminated(info.subCategories, subCategories, PClassInfo2::kSubCategoriesSize);
  copyTerminated(info.vendor, vendor, PClassInfo2::kVendorSize);
  copyTerminated(info.version, version, PClassInfo2::kVersionSize);
  copyTerminated(info.sdkVersion, sdkVersion, PClassInfo2::kVersionSize);
  return info;
}

PClassInfoW classInfoWFromAscii(const PClassInfo2 &ci2) {
  PClassInfoW info;
  std::memcpy(info.cid, ci2.cid, sizeof(TUID));
  info.cardinality = ci2.cardinality;
  copyTerminated(info.category, ci2.category, PClassInfo::kCategorySize);
  str8ToStr16(info.name, ci2.name, PClassInfo::kNameSize);
  info.classFlags = ci2.classFlags;
  copyTerminated(info.subCategories, ci2.subCategories, PClassInfoW::kSubCategoriesSize);
  str8ToStr16(info.vendor, ci2.vendor, PClassInfoW::kVendorSize);
  str8ToStr16(info.version, ci2.version, PClassInfoW::kVersionSize);
  str8ToStr16(info.sdkVersion, ci2.sdkVersion, PClassInfoW::kVersionSize);
  return info;
}

CPluginFactory::CPluginFactory(const PFactoryInfo &info) : factoryInfo(info), refCount(1) {}

CPluginFactory::~CPluginFactory() {
  if (gPluginFactory == this)
    gPluginFactory = nullptr;
}

tresult PLUGIN_API CPluginFactory::queryInterface(const TUID _iid, void **obj) {
  if (!_iid || !obj)
    return kInvalidArgument;
  QUERY_INTERFACE(_iid, obj, IPluginFactory::iid, IPluginFactory)
  QUERY_INTERFACE(_iid, obj, IPluginFactory2::iid, IPluginFactory2)
  QUERY_INTERFACE(_iid, obj, IPluginFactory3::iid, IPluginFactory3)
  QUERY_INTERFACE(_iid, obj, FUnknown::iid, IPluginFactory)
  *obj = nullptr;
  return kNoInterface;
}

uint32 PLUGIN_API CPluginFactory::addRef() {
  return uint32(refCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

uint32 PLUGIN_API CPluginFactory::release() {
  const int32 remaining = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (remaining == 0) {
    delete this;
    return 0;
  }
  return uint32(remaining);
}

bool CPluginFactory::registerClass(const PClassInfo *info, FUnknown *(*createFunc)(void *),
                                   void *context) {
  if (!info || !createFunc)
    return false;
  PClassInfo2 info2;
  copyCommonPart(info2, *info);
  return registerClass(&info2, createFunc, context);
}

bool CPluginFactory::registerClass(const PClassInfo2 *info, FUnknown *(*createFunc)(void *),
                                   void *context) {
  if (!info || !createFunc)
    return false;
  PClassEntry entry;
  entry.info8 = *info;
  entry.info16 = classInfoWFromAscii(*info);
  entry.createFunc = createFunc;
  entry.context = context;
  entry.isUnicode = false;
  classes.push_back(entry);
  return true;
}

bool CPluginFactory::registerClass(const PClassInfoW *info, FUnknown *(*createFunc)(void *),
                                   void *context) {
  if (!info || !createFunc)
    return false;
  PClassEntry entry;
  entry.info16 = *info;
  entry.createFunc = createFunc;
  entry.context = context;
  entry.isUnicode = true;
  classes.push_back(entry);
  return true;
}

bool CPluginFactory::isClassRegistered(const FUID &cid) {
  for (const PClassEntry &entry : classes)
    if (FUnknownPrivate::iidEqual(cid, entry.info16.cid))
      return true;
  return false;
}

void CPluginFactory::removeAllClasses() { classes.clear(); }

tresult PLUGIN_API CPluginFactory::getFactoryInfo(PFactoryInfo *info) {
  if (!info)
    return kInvalidArgument;
  *info = factoryInfo;
  return kResultOk;
}

int32 PLUGIN_API CPluginFactory::countClasses() { return int32(classes.size()); }

tresult PLUGIN_API CPluginFactory::getClassInfo(int32 index, PClassInfo *info) {
  if (!info || index < 0 || index >= countClasses())
    return kInvalidArgument;
  const PClassEntry &entry = classes[size_t(index)];
  if (entry.isUnicode) {
    *info = PClassInfo();
    return kResultFalse;
  }
  copyCommonPart(*info, entry.info8);
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfo2(int32 index, PClassInfo2 *info) {
  if (!info || index < 0 || index >= countClasses())
    return kInvalidArgument;
  const PClassEntry &entry = classes[size_t(index)];
  if (entry.isUnicode) {
    *info = PClassInfo2();
    return kResultFalse;
  }
  *info = entry.info8;
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::getClassInfoUnicode(int32 index, PClassInfoW *info) {
  if (!info || index < 0 || index >= countClasses())
    return kInvalidArgument;
  *info = classes[size_t(index)].info16;
  return kResultOk;
}

tresult PLUGIN_API CPluginFactory::createInstance(FIDString cid, FIDString _iid, void **obj) {
  if (!obj)
    return kInvalidArgument;
  *obj = nullptr;
  if (!cid || !_iid)
    return kInvalidArgument;
  for (const PClassEntry &entry : classes) {
    if (std::memcmp(entry.info16.cid, cid, sizeof(TUID)) != 0)
      continue;
    FUnknown *instance = entry.createFunc(entry.context);
    if (!instance)
      return kOutOfMemory;
    const tresult result = instance->queryInterface(_iid, obj);
    instance->release();
    if (result != kResultOk) {
      *obj = nullptr;
      return kNoInterface;
    }
    return kResultOk;
  }
  return kNoInterface;
}

tresult PLUGIN_API CPluginFactory::setHostContext(FUnknown *context) {
#if SMTG_OS_LINUX
  hostRunLoop = FUnknownPtr<Linux::IRunLoop>(context);
  return kResultTrue;
#else
  (void)context;
  return kNotImplemented;
#endif
}

} // namespace Steinberg
