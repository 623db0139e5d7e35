// The editor's plug-in view. The page runs in a web view program of its own
// (tindrel-webview, beside the plug-in's binary), never in the host's
// process: a web view toolkit that aborts a process already holding another
// toolkit version (as a GTK 2 host does with GTK 3), or that crashes, must
// not take the host with it. The view starts the program when the host
// attaches it, hands it the host's window, the size and the UI root over a
// socket, and connects the page to the controller: each text the controller
// sends the editor goes to the program, each text the page posts comes back
// to handleBridgeMessage. The socket and the view's cadence timer live on
// the host's run loop, which the host's plug frame provides; while attached
// the view also offers that run loop to the module's clocks. When the view
// is removed, its program is parked for the next editor (webview_spare.h).
//
// Everything runs on the host's user-interface thread; nothing blocks longer
// than the bounded wait for the program to end when the view is removed.
#pragma once

#include <memory>
#include <string>

#include "controller/cadence_clock.h"
#include "editor/descriptor_watch.h"
#include "editor/webview_process.h"
#include "vst3/sdk/pluginview.h"

namespace norva {

class NorvaController;

// What the editor reports to the controller's onEditorError.
inline constexpr const char *kEditorNoUiBundleError = "no ui bundle in plugin";
inline constexpr const char *kEditorNoUiRootError = "no ui root";
inline constexpr const char *kEditorWebViewFailedError = "webview allocation failed";
inline constexpr const char *kEditorWebViewEndedError = "webview process ended";
inline constexpr const char *kEditorNoRunLoopError = "no host run loop";
// The console line of an editor that cannot be made.
inline constexpr const char *kEditorDisabledLine = "norva-plugin-shell: no UI bundle found; editor disabled\n";

// The view for controller, its page served from rootOverride when given,
// else from the UI folder beside this code's binary. Null, with the console
// line, for a null controller; null, with the line and the editor error
// kEditorNoUiBundleError, when there is no UI root.
Steinberg::IPlugView *createWebViewEditor(NorvaController *controller, const char *rootOverride);

// The web view program beside the binary that holds address; empty when
// address is in no loaded binary. The program need not exist.
std::string webViewProgramForImageAddress(const void *address);

// The VST 3 platform type of the window a host hands an editor here.
Steinberg::FIDString hostWindowPlatformType();

class WebViewPlugView final : public Steinberg::CPluginView {
public:
  WebViewPlugView(NorvaController *controller, std::string root, std::string program);
  ~WebViewPlugView() override;

  // kResultTrue for hostWindowPlatformType() only.
  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API attached(void *parent, Steinberg::FIDString type) override;
  Steinberg::tresult PLUGIN_API removed() override;
  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect *newSize) override;
  Steinberg::tresult PLUGIN_API canResize() override { return Steinberg::kResultTrue; }
  Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect *rect) override;

  const std::string &root() const { return root_; }
  // The program's process id while it runs, else -1.
  pid_t webViewPid() const { return process_ != nullptr ? process_->pid() : -1; }

private:
  void onSocketReady();
  void onFrame(const EditorFrame &frame);
  void tick();
  // Reports reason on the console and editorError to the controller, and
  // ends the session; the view stays attached, with nothing in it.
  void fail(const std::string &reason, const char *editorError);
  // Unregisters the socket and the timer, withdraws the run loop, removes
  // the sink (after editorClosed when closing) and parks the program
  // (closing) or closes it.
  void endSession(bool closing);

  NorvaController *controller_;
  std::string root_;
  std::string program_;
  std::unique_ptr<WebViewProcess> process_;
  Steinberg::Linux::IRunLoop *runLoop_ = nullptr;
  DescriptorWatch *watch_ = nullptr;
  CadenceClock clock_;
  bool opened_ = false;       // editorOpened told, editorClosed not yet
  bool sinkInstalled_ = false;
  std::string failure_;       // what the program said it could not do
};

} // namespace norva
