// CPluginView: IPlugView defaults that keep the view rectangle, the parent
// handed to attached() and the host's plug frame.
#pragma once

#include "vst3/abi/iplugview.h"
#include "vst3/sdk/fobject.h"

namespace Steinberg {

class CPluginView : public FObject, public IPlugView {
public:
  explicit CPluginView(const ViewRect *rect = nullptr);
  ~CPluginView() override;

  const ViewRect &getRect() const { return rect; }
  void setRect(const ViewRect &r) { rect = r; }
  bool isAttached() const { return systemWindow != nullptr; }

  // Hooks called by attached() and removed().
  virtual void attachedToParent() {}
  virtual void removedFromParent() {}

  // IPlugView
  tresult PLUGIN_API isPlatformTypeSupported(FIDString type) override; // kNotImplemented
  // Remembers the parent, then attachedToParent(); kResultOk.
  tresult PLUGIN_API attached(void *parent, FIDString type) override;
  // Forgets the parent, then removedFromParent(); kResultOk.
  tresult PLUGIN_API removed() override;
  tresult PLUGIN_API onWheel(float /*distance*/) override { return kResultFalse; }
  tresult PLUGIN_API onKeyDown(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) override {
    return kResultFalse;
  }
  tresult PLUGIN_API onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/) override {
    return kResultFalse;
  }
  // The current rectangle; kInvalidArgument for null.
  tresult PLUGIN_API getSize(ViewRect *size) override;
  // Takes the new rectangle; kResultTrue.
  tresult PLUGIN_API onSize(ViewRect *newSize) override;
  tresult PLUGIN_API onFocus(TBool /*state*/) override { return kResultFalse; }
  // Remembers the frame without adding a reference (the host keeps it alive
  // while the view is attached).
  tresult PLUGIN_API setFrame(IPlugFrame *frame) override {
    plugFrame = frame;
    return kResultTrue;
  }
  tresult PLUGIN_API canResize() override { return kResultFalse; }
  tresult PLUGIN_API checkSizeConstraint(ViewRect * /*rect*/) override { return kResultFalse; }

  OBJ_METHODS(CPluginView, FObject)
  DEFINE_INTERFACES
  DEF_INTERFACE(IPlugView)
  END_DEFINE_INTERFACES(FObject)
  REFCOUNT_METHODS(FObject)

protected:
  ViewRect rect;
  void *systemWindow;
  IPlugFrame *plugFrame;
};

} // namespace Steinberg
