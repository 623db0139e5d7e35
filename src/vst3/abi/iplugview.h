// IPlugView (the editor inside the host's window), IPlugFrame, and the
// Linux run-loop interfaces a host provides where the system has no global
// event loop.
#pragma once

#include "vst3/abi/funknown.h"

namespace Steinberg {

class IPlugFrame;

struct ViewRect {
  int32 left = 0;
  int32 top = 0;
  int32 right = 0;
  int32 bottom = 0;
};

const FIDString kPlatformTypeHWND = "HWND";
const FIDString kPlatformTypeHIView = "HIView";
const FIDString kPlatformTypeNSView = "NSView";
const FIDString kPlatformTypeUIView = "UIView";
const FIDString kPlatformTypeX11EmbedWindowID = "X11EmbedWindowID";

class IPlugView : public FUnknown {
public:
  virtual tresult PLUGIN_API isPlatformTypeSupported(FIDString type) = 0;
  // parent: the platform view (NSView*, X11 window id, ...) of the given type.
  virtual tresult PLUGIN_API attached(void *parent, FIDString type) = 0;
  virtual tresult PLUGIN_API removed() = 0;
  virtual tresult PLUGIN_API onWheel(float distance) = 0;
  virtual tresult PLUGIN_API onKeyDown(char16 key, int16 keyCode, int16 modifiers) = 0;
  virtual tresult PLUGIN_API onKeyUp(char16 key, int16 keyCode, int16 modifiers) = 0;
  virtual tresult PLUGIN_API getSize(ViewRect *size) = 0;
  virtual tresult PLUGIN_API onSize(ViewRect *newSize) = 0;
  virtual tresult PLUGIN_API onFocus(TBool state) = 0;
  virtual tresult PLUGIN_API setFrame(IPlugFrame *frame) = 0;
  virtual tresult PLUGIN_API canResize() = 0;
  // Adjusts rect to the nearest size the view accepts.
  virtual tresult PLUGIN_API checkSizeConstraint(ViewRect *rect) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPlugView, 0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29)

class IPlugFrame : public FUnknown {
public:
  // The host resizes its window and then calls IPlugView::onSize.
  virtual tresult PLUGIN_API resizeView(IPlugView *view, ViewRect *newSize) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IPlugFrame, 0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3)

namespace Linux {

using TimerInterval = uint64;
using FileDescriptor = int;

class IEventHandler : public FUnknown {
public:
  virtual void PLUGIN_API onFDIsSet(FileDescriptor fd) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IEventHandler, 0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983)

class ITimerHandler : public FUnknown {
public:
  virtual void PLUGIN_API onTimer() = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(ITimerHandler, 0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9)

// Provided by the host (with the plug frame, and as the factory's host
// context): file-descriptor handlers and repeating timers on its UI thread.
class IRunLoop : public FUnknown {
public:
  virtual tresult PLUGIN_API registerEventHandler(IEventHandler *handler, FileDescriptor fd) = 0;
  virtual tresult PLUGIN_API unregisterEventHandler(IEventHandler *handler) = 0;
  virtual tresult PLUGIN_API registerTimer(ITimerHandler *handler,
                                           TimerInterval milliseconds) = 0;
  virtual tresult PLUGIN_API unregisterTimer(ITimerHandler *handler) = 0;

  static const FUID iid;
};

DECLARE_CLASS_IID(IRunLoop, 0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389)

} // namespace Linux
} // namespace Steinberg
