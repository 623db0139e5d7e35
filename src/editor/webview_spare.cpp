#include "editor/webview_spare.h"

#include "controller/cadence_clock.h"
#include "editor/descriptor_watch.h"

namespace norva {

using namespace Steinberg;

namespace {

struct Spare {
  std::unique_ptr<WebViewProcess> process;
  std::string root;
  Linux::IRunLoop *runLoop = nullptr;
  DescriptorWatch *watch = nullptr;
  CadenceClock expiry;
};

// Never destroyed with the module's statics: its watch and timer must leave
// the host's run loop while the host is still there (closeParkedWebView,
// at module exit). A host that unloads the module without that still gets
// the program closed by gLastResort.
Spare *gSpare = nullptr;

struct LastResort {
  ~LastResort() {
    if (gSpare != nullptr) gSpare->process->close();
  }
} gLastResort;

// Takes the spare off the run loop; the caller owns it.
Spare *unwatch() {
  Spare *spare = gSpare;
  gSpare = nullptr;
  spare->watch->forget();
  spare->runLoop->unregisterEventHandler(spare->watch);
  spare->watch->release();
  spare->expiry.stop();
  spare->runLoop->release();
  return spare;
}

// A parked program says nothing until it is opened again: anything it
// sends, or its end, means it is of no more use.
bool stillParked(WebViewProcess &process) {
  bool spoke = false;
  std::string error;
  const WebViewProcess::Received received = process.receive([&](const EditorFrame &) { spoke = true; }, error);
  return received == WebViewProcess::Received::open && !spoke;
}

void onSpareReadable() {
  if (gSpare != nullptr && !stillParked(*gSpare->process)) closeParkedWebView();
}

} // namespace

bool parkWebView(std::unique_ptr<WebViewProcess> process, const std::string &root, Linux::IRunLoop *runLoop) {
  if (process == nullptr) return false;
  if (!process->running() || runLoop == nullptr || !process->send(EditorFrameKind::park, {}) ||
      !process->await(EditorFrameKind::parked, kWebViewParkWaitMs, [](const EditorFrame &) {})) {
    process->close();
    return false;
  }
  closeParkedWebView();
  auto *watch = new DescriptorWatch(onSpareReadable);
  if (runLoop->registerEventHandler(watch, process->socket()) != kResultOk) {
    watch->release();
    process->close();
    return false;
  }
  runLoop->addRef();
  auto *spare = new Spare();
  spare->process = std::move(process);
  spare->root = root;
  spare->runLoop = runLoop;
  spare->watch = watch;
  // Without the timer the program still ends itself, a while later.
  spare->expiry.start(runLoop, kWebViewSpareMs, [] { closeParkedWebView(); });
  gSpare = spare;
  return true;
}

std::unique_ptr<WebViewProcess> takeParkedWebView(const std::string &root) {
  if (gSpare == nullptr) return nullptr;
  if (gSpare->root != root) {
    closeParkedWebView();
    return nullptr;
  }
  const std::unique_ptr<Spare> spare(unwatch());
  std::unique_ptr<WebViewProcess> process = std::move(spare->process);
  if (!stillParked(*process)) {
    process->close();
    return nullptr;
  }
  return process;
}

void closeParkedWebView() {
  if (gSpare == nullptr) return;
  const std::unique_ptr<Spare> spare(unwatch());
  spare->process->close();
}

} // namespace norva
