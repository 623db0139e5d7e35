#include "editor/webview_plug_view.h"

#include <dlfcn.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include "controller/norva_controller.h"
#include "diagnostics/diagnostic_reports.h"
#include "editor/editor_page.h"
#include "editor/webview_spare.h"
#include "platform/host_window.h"
#include "vst3/abi/iplugview.h"

namespace norva {

using namespace Steinberg;

namespace {

constexpr const char kWebViewLine[] = "norva-plugin-shell: web view: %s\n";

void consoleLine(const char *format, const char *text) {
  std::fprintf(stderr, format, text);
  std::fflush(stderr);
}

// The rectangle's size held within the editor's bounds, with left and top
// kept; false (rect untouched) when the new right or bottom would not fit.
bool clampRect(ViewRect &rect) {
  const auto side = [](int32 from, int32 to) {
    const int64_t length = int64_t(to) - from;
    return static_cast<int32_t>(length < INT32_MIN ? INT32_MIN : length > INT32_MAX ? INT32_MAX : length);
  };
  const EditorSize size = clampEditorSize(side(rect.left, rect.right), side(rect.top, rect.bottom));
  const int64_t right = int64_t(rect.left) + size.width;
  const int64_t bottom = int64_t(rect.top) + size.height;
  if (right > INT32_MAX || bottom > INT32_MAX) return false;
  rect.right = static_cast<int32>(right);
  rect.bottom = static_cast<int32>(bottom);
  return true;
}

} // namespace

FIDString hostWindowPlatformType() {
  switch (kHostWindowKind) {
  case HostWindowKind::cocoaView: return kPlatformTypeNSView;
  case HostWindowKind::x11Window: break;
  }
  return kPlatformTypeX11EmbedWindowID;
}

std::string webViewProgramForImageAddress(const void *address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return {};
  std::string image(info.dli_fname);
  if (char *resolved = ::realpath(image.c_str(), nullptr)) {
    image = resolved;
    std::free(resolved);
  }
  const size_t slash = image.rfind('/');
  return (slash == std::string::npos ? std::string(".") : image.substr(0, slash)) + '/' + kWebViewProgramName;
}

IPlugView *createWebViewEditor(NorvaController *controller, const char *rootOverride) {
  if (controller == nullptr) {
    consoleLine("%s", kEditorDisabledLine);
    return nullptr;
  }
  const void *self = reinterpret_cast<const void *>(&createWebViewEditor);
  std::string root = rootOverride != nullptr ? std::string(rootOverride) : uiRootForImageAddress(self);
  if (root.empty()) {
    consoleLine("%s", kEditorDisabledLine);
    controller->onEditorError(kEditorNoUiBundleError);
    return nullptr;
  }
  return new WebViewPlugView(controller, std::move(root), webViewProgramForImageAddress(self));
}

WebViewPlugView::WebViewPlugView(NorvaController *controller, std::string root, std::string program)
    : controller_(controller), root_(std::move(root)), program_(std::move(program)) {
  const ViewRect initial{0, 0, kEditorInitialWidth, kEditorInitialHeight};
  setRect(initial);
  if (controller_ != nullptr) controller_->addRef();
}

WebViewPlugView::~WebViewPlugView() {
  endSession(true);
  if (controller_ != nullptr) controller_->release();
}

tresult PLUGIN_API WebViewPlugView::isPlatformTypeSupported(FIDString type) {
  return type != nullptr && std::strcmp(type, hostWindowPlatformType()) == 0 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API WebViewPlugView::attached(void *parent, FIDString type) {
  if (parent == nullptr || isPlatformTypeSupported(type) != kResultTrue || isAttached()) return kResultFalse;
  if (controller_ == nullptr || root_.empty()) {
    if (controller_ != nullptr) controller_->onEditorError(kEditorNoUiRootError);
    return kResultFalse;
  }
  Linux::IRunLoop *runLoop = nullptr;
  if (plugFrame == nullptr ||
      plugFrame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void **>(&runLoop)) != kResultOk ||
      runLoop == nullptr) {
    consoleLine(kWebViewLine, "the host's plug frame offers no run loop");
    controller_->onEditorError(kEditorNoRunLoopError);
    return kResultFalse;
  }
  process_ = takeParkedWebView(root_);
  if (process_ == nullptr) {
    process_ = std::make_unique<WebViewProcess>();
    std::string error;
    if (!process_->start(program_, error)) {
      process_.reset();
      runLoop->release();
      consoleLine(kWebViewLine, error.c_str());
      controller_->onEditorError(kEditorWebViewFailedError);
      return kResultFalse;
    }
  }
  const EditorSize size = clampEditorSize(rect.right - rect.left, rect.bottom - rect.top);
  const EditorOpenRequest open{reinterpret_cast<uintptr_t>(parent), size.width, size.height, root_};
  runLoop_ = runLoop;
  if (!process_->send(EditorFrameKind::open, encodeEditorOpen(open))) {
    endSession(false);
    consoleLine(kWebViewLine, "the web view program ended before it could be opened");
    controller_->onEditorError(kEditorWebViewEndedError);
    return kResultFalse;
  }
  watch_ = new DescriptorWatch([this] { onSocketReady(); });
  if (runLoop_->registerEventHandler(watch_, process_->socket()) != kResultOk) {
    endSession(false);
    consoleLine(kWebViewLine, "the host's run loop refused the web view's socket");
    controller_->onEditorError(kEditorWebViewFailedError);
    return kResultFalse;
  }
  offerHostRunLoop(this, plugFrame);
  clock_.start(runLoop_, kCadenceIntervalMs, [this] { tick(); });
  controller_->setBridgeSink([this](const std::string &text) { process_->send(EditorFrameKind::deliver, text); });
  sinkInstalled_ = true;
  controller_->onEditorOpened();
  opened_ = true;
  failure_.clear();
  return CPluginView::attached(parent, type);
}

tresult PLUGIN_API WebViewPlugView::removed() {
  endSession(true);
  return CPluginView::removed();
}

void WebViewPlugView::endSession(bool closing) {
  if (watch_ != nullptr) {
    watch_->forget();
    if (runLoop_ != nullptr) runLoop_->unregisterEventHandler(watch_);
    watch_->release();
    watch_ = nullptr;
  }
  clock_.stop();
  withdrawHostRunLoop(this);
  if (closing && opened_) {
    opened_ = false;
    controller_->onEditorClosed();
  }
  // The controller must not call into a program that is gone.
  if (sinkInstalled_) {
    sinkInstalled_ = false;
    controller_->setBridgeSink(nullptr);
  }
  if (process_ != nullptr) {
    if (closing) {
      parkWebView(std::move(process_), root_, runLoop_);
    } else {
      process_->close();
    }
    process_.reset();
  }
  if (runLoop_ != nullptr) {
    runLoop_->release();
    runLoop_ = nullptr;
  }
}

void WebViewPlugView::fail(const std::string &reason, const char *editorError) {
  consoleLine(kWebViewLine, reason.c_str());
  endSession(false);
  controller_->onEditorError(editorError);
}

void WebViewPlugView::onSocketReady() {
  if (process_ == nullptr) return;
  std::string error;
  const WebViewProcess::Received received =
      process_->receive([this](const EditorFrame &frame) { onFrame(frame); }, error);
  if (!failure_.empty()) {
    fail(failure_, kEditorWebViewFailedError);
  } else if (received == WebViewProcess::Received::ended) {
    fail("the web view program ended", kEditorWebViewEndedError);
  } else if (received == WebViewProcess::Received::broken) {
    fail(error, kEditorWebViewEndedError);
  }
}

void WebViewPlugView::onFrame(const EditorFrame &frame) {
  if (!failure_.empty()) return;
  switch (frame.kind) {
  case EditorFrameKind::pageMessage: {
    // The text ends at its first NUL, as the page's string would.
    const size_t length = std::min(frame.payload.find('\0'), frame.payload.size());
    if (length > 0) controller_->handleBridgeMessage(frame.payload.data(), length);
    return;
  }
  case EditorFrameKind::failed:
    failure_ = frame.payload.empty() ? std::string("the web view program failed") : frame.payload;
    return;
  default:
    failure_ = "the web view program sent a frame meant for it";
    return;
  }
}

void WebViewPlugView::tick() {
  controller_->tickCadence();
  if (process_ != nullptr && !process_->flush()) fail("the web view program stopped reading", kEditorWebViewEndedError);
}

tresult PLUGIN_API WebViewPlugView::checkSizeConstraint(ViewRect *rect) {
  if (rect == nullptr) return kInvalidArgument;
  return clampRect(*rect) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API WebViewPlugView::onSize(ViewRect *newSize) {
  if (newSize == nullptr || !clampRect(*newSize)) return kResultFalse;
  const tresult result = CPluginView::onSize(newSize);
  if (process_ != nullptr) {
    const EditorResize size{newSize->right - newSize->left, newSize->bottom - newSize->top};
    process_->send(EditorFrameKind::resize, encodeEditorResize(size));
  }
  return result;
}

} // namespace norva
