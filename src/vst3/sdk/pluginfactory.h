// CPluginFactory: the module's class factory. Classes are registered with a
// description and a creation function; the factory answers the three
// factory interfaces from those records.
#pragma once

#include "vst3/abi/ipluginfactory.h"
#include "vst3/abi/iplugview.h"
#include "vst3/sdk/funknownimpl.h"

#include <atomic>
#include <vector>

namespace Steinberg {

// Records filled from 8-bit texts. Each text is truncated so that its field
// stays terminated; a null text leaves the field empty.
PFactoryInfo makeFactoryInfo(const char8 *vendor, const char8 *url, const char8 *email,
                             int32 flags);
PClassInfo2 makeClassInfo2(const TUID cid, int32 cardinality, const char8 *category,
                           const char8 *name, int32 classFlags, const char8 *subCategories,
                           const char8 *vendor, const char8 *version, const char8 *sdkVersion);
// The UTF-16 record of an 8-bit one, its texts widened.
PClassInfoW classInfoWFromAscii(const PClassInfo2 &info);

class CPluginFactory : public IPluginFactory3 {
public:
  // The factory starts with one reference (the creator's).
  explicit CPluginFactory(const PFactoryInfo &info);
  virtual ~CPluginFactory();
  CPluginFactory(const CPluginFactory &) = delete;
  CPluginFactory &operator=(const CPluginFactory &) = delete;

  // createFunc(context) returns a new instance holding one reference.
  // Returns false for a null description or function. A class registered
  // in 8-bit form is also offered in UTF-16 form.
  bool registerClass(const PClassInfo *info, FUnknown *(*createFunc)(void *),
                     void *context = nullptr);
  bool registerClass(const PClassInfo2 *info, FUnknown *(*createFunc)(void *),
                     void *context = nullptr);
  bool registerClass(const PClassInfoW *info, FUnknown *(*createFunc)(void *),
                     void *context = nullptr);

  bool isClassRegistered(const FUID &cid);
  void removeAllClasses();

  // FUnknown
  tresult PLUGIN_API queryInterface(const TUID _iid, void **obj) override;
  uint32 PLUGIN_API addRef() override;
  uint32 PLUGIN_API release() override;

  // IPluginFactory. Index errors and null records: kInvalidArgument.
  tresult PLUGIN_API getFactoryInfo(PFactoryInfo *info) override;
  int32 PLUGIN_API countClasses() override;
  // kResultFalse (and a zeroed record) for a class registered in UTF-16 form.
  tresult PLUGIN_API getClassInfo(int32 index, PClassInfo *info) override;
  // Creates the class and hands out interface _iid; the creation reference
  // is dropped, so an instance that lacks _iid is destroyed again and the
  // call returns kNoInterface.
  tresult PLUGIN_API createInstance(FIDString cid, FIDString _iid, void **obj) override;

  // IPluginFactory2
  tresult PLUGIN_API getClassInfo2(int32 index, PClassInfo2 *info) override;

  // IPluginFactory3
  tresult PLUGIN_API getClassInfoUnicode(int32 index, PClassInfoW *info) override;
  // On Linux keeps the host's run loop when the context offers one and
  // returns kResultTrue; elsewhere kNotImplemented.
  tresult PLUGIN_API setHostContext(FUnknown *context) override;

  // The run loop from setHostContext (Linux), or null.
  Linux::IRunLoop *getHostRunLoop() const { return hostRunLoop.get(); }

protected:
  struct PClassEntry {
    PClassInfo2 info8;
    PClassInfoW info16;
    FUnknown *(*createFunc)(void *);
    void *context;
    bool isUnicode;
  };

  PFactoryInfo factoryInfo;
  std::vector<PClassEntry> classes;
  std::atomic<int32> refCount;
  IPtr<Linux::IRunLoop> hostRunLoop;
};

// The module's factory while it exists; cleared by its destructor.
extern CPluginFactory *gPluginFactory;

} // namespace Steinberg
