// The editor without a display: the page's files, names and sizes, the wire
// to the web view program, and the plug-in's view driven through a plug
// frame and run loop of the test's own, with stand-in programs (shell
// scripts) for the web view program: one that is missing, one that talks
// the wire, and ones that die, misbehave or hang.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/bridge_outbound.h"
#include "controller/norva_controller.h"
#include "editor/editor_page.h"
#include "editor/editor_wire.h"
#include "editor/webview_plug_view.h"
#include "editor/webview_spare.h"
#include "editor_host.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_host.h"

namespace {

using namespace norva;
using namespace Steinberg;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using probe::RefCount;

// A folder of the test's own, removed with everything in it.
struct TempFolder {
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "norva-editor-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path); }
  std::string file(const std::string &name, const std::string &text = "x") const {
    const fs::path at = fs::path(path) / name;
    fs::create_directories(at.parent_path());
    std::ofstream(at) << text;
    return at.string();
  }
  std::string path;
};

std::string realPath(const std::string &path) { return fs::canonical(path).string(); }

// --- the page's files and names -------------------------------------------------------------------

TEST(EditorPage, MimeTypesGoByTheLowerCasedExtensionOfTheFileName) {
  const std::pair<const char *, const char *> cases[] = {
      {"/index.html", "text/html"},          {"/app.JS", "text/javascript"},
      {"/fonts/a.WOFF2", "font/woff2"},      {"/m.mjs", "text/javascript"},
      {"/README", kUiFallbackMimeType},      {"/a.tar.gz", kUiFallbackMimeType},
      {"/x.css/readme", kUiFallbackMimeType}, {"/trailing.", kUiFallbackMimeType},
      {"/long.woff22", kUiFallbackMimeType},
  };
  for (const auto &[path, type] : cases) EXPECT_STREQ(uiMimeType(path), type) << path;
  EXPECT_EQ(uiContentType("/a.svg"), "image/svg+xml; charset=utf-8");
}

TEST(EditorPage, RequestsResolveToFilesInsideTheRootOnly) {
  TempFolder folder;
  const std::string root = folder.path + "/ui";
  const std::string index = folder.file("ui/index.html");
  const std::string app = folder.file("ui/js/app.js");
  folder.file("ui-private/secret.txt");  // a sibling whose name begins with the root's
  fs::create_symlink("../ui-private/secret.txt", root + "/escape");
  fs::create_symlink("js/app.js", root + "/inner");
  const std::pair<const char *, std::string> cases[] = {
      {"/", index},
      {"", index},
      {"/js/app.js", app},
      {"/js/../index.html", index},
      {"/inner", app},  // a link that stays inside is followed
      {"/js%2Fapp.js", app},
      {"/../ui-private/secret.txt", ""},
      {"/%2e%2e/ui-private/secret.txt", ""},
      {"/escape", ""},
      {"/js", ""},  // a folder
      {"/missing.js", ""},
      {"/bad%zz", ""},
      {"/nul%00.html", ""},
  };
  for (const auto &[request, expected] : cases) {
    std::string file = "untouched";
    EXPECT_EQ(resolveUiRequest(root, request, file), !expected.empty()) << request;
    EXPECT_EQ(file, expected.empty() ? "untouched" : realPath(expected)) << request;
  }
  std::string file;
  EXPECT_FALSE(resolveUiRequest("", "/", file)) << "no root";
}

TEST(EditorPage, TheStartAddressNamesTheRootByItsHash) {
  EXPECT_EQ(uiStartUrl("/opt/Tindrel.vst3/Contents/Resources/ui"), "norva-ui://bundle-c4b1c3ebf3060ec6/index.html");
  EXPECT_EQ(uiStartUrl("/a/ui"), uiStartUrl("/a/ui"));
  EXPECT_NE(uiStartUrl("/a/ui"), uiStartUrl("/b/ui"));
  EXPECT_EQ(uiRootHash(""), kUiRootHashStart);
}

TEST(EditorPage, TheInjectedScriptPostsToTheHandlerTheProgramRegisters) {
  const std::string script = kUiInjectedScript;
  EXPECT_NE(script.find(std::string("window.webkit.messageHandlers.") + kUiMessageHandler + ".postMessage"),
            std::string::npos);
  EXPECT_EQ(script.find('\n'), std::string::npos) << "one line";
  EXPECT_EQ(uiDeliveryScript("{\"a\":1}"), "window.norvaHost && window.norvaHost._deliver({\"a\":1});");
}

TEST(EditorPage, SizesAreHeldWithinTheEditorsBounds) {
  const struct {
    int32_t width, height, clampedWidth, clampedHeight;
  } cases[] = {
      {3000, 200, 1600, 420}, {800, 600, 800, 600}, {0, 0, 620, 420}, {INT32_MIN, INT32_MAX, 620, 1100},
  };
  for (const auto &c : cases) {
    const EditorSize size = clampEditorSize(c.width, c.height);
    EXPECT_EQ(size.width, c.clampedWidth) << c.width;
    EXPECT_EQ(size.height, c.clampedHeight) << c.height;
  }
}

// --- the wire -------------------------------------------------------------------------------------

std::string frameBytes(EditorFrameKind kind, std::string_view payload) {
  std::string out;
  EXPECT_TRUE(appendEditorFrame(out, kind, payload));
  return out;
}

std::vector<EditorFrame> readAll(EditorFrameReader &reader) {
  std::vector<EditorFrame> frames;
  EditorFrame frame;
  while (reader.next(frame) == EditorFrameReader::Result::frame) frames.push_back(frame);
  return frames;
}

TEST(EditorWire, FramesComeOutWholeHoweverTheStreamIsCut) {
  const std::vector<std::pair<EditorFrameKind, std::string>> sent = {
      {EditorFrameKind::pageMessage, "{\"type\":\"norva.ready\"}"},
      {EditorFrameKind::park, ""},
      {EditorFrameKind::deliver, std::string(100000, 'x')},
      {EditorFrameKind::resize, encodeEditorResize({800, 600})},
  };
  std::string stream;
  for (const auto &[kind, payload] : sent) stream += frameBytes(kind, payload);
  for (const size_t piece : {size_t(1), size_t(3), size_t(4096), stream.size()}) {
    EditorFrameReader reader;
    std::vector<EditorFrame> frames;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.feed(stream.data() + at, std::min(piece, stream.size() - at));
      for (EditorFrame &frame : readAll(reader)) frames.push_back(std::move(frame));
    }
    ASSERT_EQ(frames.size(), sent.size()) << piece;
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(frames[i].kind, sent[i].first);
      EXPECT_EQ(frames[i].payload, sent[i].second);
    }
    EXPECT_FALSE(reader.midFrame());
  }
}

TEST(EditorWire, AStreamThatBreaksTheFramingIsRefusedForGood) {
  const std::string header = std::string("\x00\x00\x00\x00", 4);
  const std::pair<const char *, std::string> cases[] = {
      {"kind 0", header + '\x00'},
      {"kind 9", header + '\x09'},
      {"over the limit", std::string("\x01\x00\x80\x00", 4) + '\x02'},
      {"a close with a payload", std::string("\x01\x00\x00\x00", 4) + "\x04" "x"},
      {"a parked with a payload", std::string("\x01\x00\x00\x00", 4) + "\x08" "x"},
  };
  for (const auto &[name, bytes] : cases) {
    EditorFrameReader reader;
    reader.feed(bytes.data(), bytes.size());
    EditorFrame frame;
    EXPECT_EQ(reader.next(frame), EditorFrameReader::Result::refused) << name;
    EXPECT_NE(reader.error(), nullptr) << name;
    const std::string good = frameBytes(EditorFrameKind::close, "");
    reader.feed(good.data(), good.size());
    EXPECT_EQ(reader.next(frame), EditorFrameReader::Result::refused) << name << ": the stream stays refused";
  }
  std::string tooLong;
  EXPECT_FALSE(appendEditorFrame(tooLong, EditorFrameKind::deliver, std::string(kEditorFrameMaxPayload + 1, 'x')));
  EXPECT_TRUE(tooLong.empty());
}

TEST(EditorWire, AStreamCutInsideAFrameLeavesItUnfinished) {
  const std::string frame = frameBytes(EditorFrameKind::deliver, "{}");
  for (const size_t cut : {size_t(1), kEditorFrameHeaderBytes, frame.size() - 1}) {
    EditorFrameReader reader;
    reader.feed(frame.data(), cut);
    EXPECT_TRUE(readAll(reader).empty()) << cut;
    EXPECT_TRUE(reader.midFrame()) << cut;
  }
}

TEST(EditorWire, OpenAndResizeRequestsReadBackOrAreRefused) {
  const EditorOpenRequest open{0x3a00007, 1120, 760, "/opt/Tindrel.vst3/Contents/Resources/ui"};
  EditorOpenRequest back;
  ASSERT_TRUE(decodeEditorOpen(encodeEditorOpen(open), back));
  EXPECT_EQ(back.window, open.window);
  EXPECT_EQ(back.width, open.width);
  EXPECT_EQ(back.height, open.height);
  EXPECT_EQ(back.root, open.root);
  const std::pair<const char *, EditorOpenRequest> refused[] = {
      {"no window", {0, 1120, 760, "/ui"}},
      {"too wide", {1, 1601, 760, "/ui"}},
      {"too low", {1, 1120, 419, "/ui"}},
      {"no root", {1, 1120, 760, ""}},
      {"a NUL in the root", {1, 1120, 760, std::string("/u\0i", 4)}},
  };
  for (const auto &[name, request] : refused) EXPECT_FALSE(decodeEditorOpen(encodeEditorOpen(request), back)) << name;
  EXPECT_FALSE(decodeEditorOpen("short", back));

  EditorResize size;
  EXPECT_TRUE(decodeEditorResize(encodeEditorResize({1600, 1100}), size));
  EXPECT_EQ(size.width, 1600);
  EXPECT_FALSE(decodeEditorResize(encodeEditorResize({3000, 200}), size));
  EXPECT_FALSE(decodeEditorResize(encodeEditorResize({800, 600}) + "x", size));
}

// --- the view -------------------------------------------------------------------------------------

// The host side of a view: a plug frame that is also the run loop, driven
// by the test.
class FakeFrame final : public IPlugFrame, public Linux::IRunLoop {
public:
  explicit FakeFrame(bool offerRunLoop = true) : offerRunLoop_(offerRunLoop) {}

  tresult PLUGIN_API queryInterface(const TUID iid, void **obj) override {
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IPlugFrame *>(this);
      return kResultOk;
    }
    if (offerRunLoop_ && FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
      addRef();
      *obj = static_cast<Linux::IRunLoop *>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  NORVA_PROBE_REFCOUNT

  tresult PLUGIN_API resizeView(IPlugView *, ViewRect *) override { return kResultTrue; }
  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler *handler, Linux::FileDescriptor descriptor) override {
    handler_ = handler;
    fd_ = descriptor;
    return kResultOk;
  }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler *handler) override {
    if (handler != handler_.get()) return kResultFalse;
    handler_ = nullptr;
    fd_ = -1;
    return kResultOk;
  }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler *handler, Linux::TimerInterval) override {
    timers_.emplace_back(handler);
    return kResultOk;
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler *handler) override {
    return std::erase_if(timers_, [&](const IPtr<Linux::ITimerHandler> &t) { return t.get() == handler; }) == 1
               ? kResultOk
               : kResultFalse;
  }

  // Calls the handler whenever its descriptor is readable and ticks the
  // timers, until done() or seconds have passed; done()'s last answer.
  template <typename Done> bool runUntil(double seconds, Done done) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(int(seconds * 1000));
    while (!done() && Clock::now() < until) {
      if (fd_ >= 0) {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, 10) > 0) IPtr<Linux::IEventHandler>(handler_)->onFDIsSet(fd_);
      } else {
        ::usleep(10000);
      }
      for (const IPtr<Linux::ITimerHandler> &timer : std::vector(timers_)) timer->onTimer();
    }
    return done();
  }
  size_t registrations() const { return (handler_ ? 1 : 0) + timers_.size(); }

private:
  bool offerRunLoop_;
  IPtr<Linux::IEventHandler> handler_;
  int fd_ = -1;
  std::vector<IPtr<Linux::ITimerHandler>> timers_;
};

// An initialised controller, its lifecycle's last editor error, and the
// window id the views are handed.
struct Rig {
  Rig() { EXPECT_EQ(controller->initialize(host), kResultOk); }
  ~Rig() {
    controller->terminate();
    controller->release();
  }
  // The reason of the newest editorError event, or "".
  std::string lastEditorError() const {
    const DiagnosticLifecycleLog &log = controller->lifecycle();
    for (uint32_t i = log.count(); i-- > 0;) {
      const DiagnosticLifecycleEvent &event = log.at(i);
      if (event.kind != DiagnosticLifecycleKind::editorError) continue;
      for (const DiagnosticLifecycleField &field : event.fields)
        if (std::string(field.name) == "reason") return field.text;
    }
    return "";
  }
  uint32_t count(DiagnosticLifecycleKind kind) const {
    uint32_t n = 0;
    for (uint32_t i = 0; i < controller->lifecycle().count(); ++i) n += controller->lifecycle().at(i).kind == kind;
    return n;
  }

  IPtr<probe::HostApplication> host = owned(new probe::HostApplication());
  NorvaController *controller = new NorvaController();
  IPtr<FakeFrame> frame = owned(new FakeFrame());
  void *window = reinterpret_cast<void *>(uintptr_t(0x3a00007));
};

TEST(EditorView, OnlyTheX11WindowTypeIsTaken) {
  Rig rig;
  TempFolder ui;
  IPtr<IPlugView> view = owned(createWebViewEditor(rig.controller, ui.path.c_str()));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID), kResultTrue);
  for (const char *type : {kPlatformTypeNSView, kPlatformTypeHWND, "", static_cast<const char *>(nullptr)})
    EXPECT_EQ(view->isPlatformTypeSupported(type), kResultFalse) << (type ? type : "null");
  view->setFrame(rig.frame);
  EXPECT_EQ(view->attached(rig.window, kPlatformTypeNSView), kResultFalse);
  EXPECT_EQ(view->attached(nullptr, kPlatformTypeX11EmbedWindowID), kResultFalse);
  EXPECT_EQ(rig.frame->registrations(), 0u);
  EXPECT_EQ(probe::childProcessCount(), 0u) << "nothing was started";
}

TEST(EditorView, NoControllerOrNoRootMakesNoView) {
  Rig rig;
  testing::internal::CaptureStderr();
  EXPECT_EQ(createWebViewEditor(nullptr, "/tmp"), nullptr);
  EXPECT_EQ(createWebViewEditor(rig.controller, ""), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(kEditorDisabledLine) + kEditorDisabledLine);
  EXPECT_EQ(rig.lastEditorError(), kEditorNoUiBundleError);
}

TEST(EditorView, SizesAreClampedKeepingTheCorner) {
  Rig rig;
  IPtr<IPlugView> view = owned(createWebViewEditor(rig.controller, "/tmp"));
  ViewRect rect{10, 20, 10 + 3000, 20 + 200};
  EXPECT_EQ(view->checkSizeConstraint(&rect), kResultOk);
  EXPECT_EQ(rect.left, 10);
  EXPECT_EQ(rect.top, 20);
  EXPECT_EQ(rect.right, 10 + 1600);
  EXPECT_EQ(rect.bottom, 20 + 420);
  rect = {0, 0, 800, 600};
  EXPECT_EQ(view->onSize(&rect), kResultTrue);
  ViewRect now;
  view->getSize(&now);
  EXPECT_EQ(now.right, 800);
  EXPECT_EQ(now.bottom, 600);
  ViewRect overflowing{INT32_MAX - 100, 0, INT32_MAX, 600};
  EXPECT_EQ(view->checkSizeConstraint(&overflowing), kInvalidArgument);
  EXPECT_EQ(overflowing.left, INT32_MAX - 100) << "untouched";
  EXPECT_EQ(view->onSize(&overflowing), kResultFalse);
  EXPECT_EQ(view->checkSizeConstraint(nullptr), kInvalidArgument);
  EXPECT_EQ(view->onSize(nullptr), kResultFalse);
  EXPECT_EQ(view->canResize(), kResultTrue);
}

TEST(EditorView, WithoutTheProgramOrARunLoopAttachFailsAndLeavesNothing) {
  Rig rig;
  TempFolder ui;
  // The test's binary has no web view program beside it.
  IPtr<IPlugView> view = owned(createWebViewEditor(rig.controller, ui.path.c_str()));
  view->setFrame(rig.frame);
  testing::internal::CaptureStderr();
  EXPECT_EQ(view->attached(rig.window, kPlatformTypeX11EmbedWindowID), kResultFalse);
  const std::string console = testing::internal::GetCapturedStderr();
  EXPECT_NE(console.find(std::string("norva-plugin-shell: web view: cannot start ") +
                         webViewProgramForImageAddress(reinterpret_cast<const void *>(&createWebViewEditor))),
            std::string::npos)
      << console;
  EXPECT_EQ(rig.lastEditorError(), kEditorWebViewFailedError);
  EXPECT_EQ(rig.frame->registrations(), 0u);
  EXPECT_EQ(rig.count(DiagnosticLifecycleKind::editorOpened), 0u);
  EXPECT_EQ(view->removed(), kResultOk);
  EXPECT_EQ(rig.count(DiagnosticLifecycleKind::editorClosed), 0u) << "it never opened";

  IPtr<FakeFrame> bare = owned(new FakeFrame(false));
  view->setFrame(bare);
  testing::internal::CaptureStderr();
  EXPECT_EQ(view->attached(rig.window, kPlatformTypeX11EmbedWindowID), kResultFalse);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(rig.lastEditorError(), kEditorNoRunLoopError);
  EXPECT_EQ(probe::childProcessCount(), 0u);
}

// A stand-in web view program: a shell script with the socket on fd 3.
struct FakeProgram {
  explicit FakeProgram(const std::string &body) {
    path = folder.file("tindrel-webview", "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
  }
  TempFolder folder;
  std::string path;
};

// A frame in a file, for a script to send.
std::string frameFile(const TempFolder &folder, const std::string &name, EditorFrameKind kind,
                      std::string_view payload) {
  return folder.file(name, frameBytes(kind, payload));
}

TEST(EditorView, TheViewTalksToItsProgramOverTheWire) {
  Rig rig;
  TempFolder ui;
  FakeProgram program("cat \"$0.ready\" >&3; exec cat <&3 >\"$0.heard\"");
  frameFile(program.folder, "tindrel-webview.ready", EditorFrameKind::pageMessage, "{\"type\":\"norva.ready\"}");
  IPtr<IPlugView> view = owned(new WebViewPlugView(rig.controller, ui.path, program.path));
  view->setFrame(rig.frame);
  ASSERT_EQ(view->attached(rig.window, kPlatformTypeX11EmbedWindowID), kResultOk);
  EXPECT_EQ(rig.frame->registrations(), 2u) << "the socket and the view's timer";
  EXPECT_TRUE(rig.frame->runUntil(10, [&] { return rig.controller->helloSent(); }));
  ViewRect rect{0, 0, 800, 600};
  view->onSize(&rect);
  EXPECT_EQ(view->removed(), kResultOk);
  EXPECT_EQ(rig.frame->registrations(), 0u);
  EXPECT_EQ(probe::childProcessCount(), 0u);
  EXPECT_EQ(rig.count(DiagnosticLifecycleKind::editorOpened), 1u);
  EXPECT_EQ(rig.count(DiagnosticLifecycleKind::editorClosed), 1u);

  std::ifstream heard(program.path + ".heard", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(heard)), std::istreambuf_iterator<char>());
  EditorFrameReader reader;
  reader.feed(bytes.data(), bytes.size());
  const std::vector<EditorFrame> frames = readAll(reader);
  ASSERT_GE(frames.size(), 5u) << bytes.size();
  EditorOpenRequest open;
  ASSERT_EQ(frames[0].kind, EditorFrameKind::open);
  ASSERT_TRUE(decodeEditorOpen(frames[0].payload, open));
  EXPECT_EQ(open.window, 0x3a00007u);
  EXPECT_EQ(open.width, kEditorInitialWidth);
  EXPECT_EQ(open.height, kEditorInitialHeight);
  EXPECT_EQ(open.root, ui.path);
  EXPECT_EQ(frames[1].kind, EditorFrameKind::deliver);
  EXPECT_TRUE(frames[1].payload.starts_with(std::string("{\"type\":\"") + kBridgeHello + '"'));
  // Parked, or else closed: this program never confirms the park.
  EXPECT_EQ(frames[frames.size() - 3].kind, EditorFrameKind::resize);
  EXPECT_EQ(frames[frames.size() - 2].kind, EditorFrameKind::park);
  EXPECT_EQ(frames.back().kind, EditorFrameKind::close);
}

TEST(EditorView, AProgramThatEndsOrMisbehavesEndsTheSessionNotTheHost) {
  const struct {
    const char *name;
    std::string script;
    const char *error;
  } cases[] = {
      {"ends at once", "exit 0", kEditorWebViewEndedError},
      {"crashes", "kill -SEGV $$", kEditorWebViewEndedError},
      {"sends what is no frame", "printf 'junk!' >&3; sleep 5", kEditorWebViewEndedError},
      {"sends a frame meant for it", "cat \"$0.open\" >&3; sleep 5", kEditorWebViewFailedError},
      {"cannot show the page", "cat \"$0.failed\" >&3; sleep 5", kEditorWebViewFailedError},
  };
  for (const auto &c : cases) {
    Rig rig;
    TempFolder ui;
    FakeProgram program(c.script);
    frameFile(program.folder, "tindrel-webview.open", EditorFrameKind::open, "x");
    frameFile(program.folder, "tindrel-webview.failed", EditorFrameKind::failed, "cannot open the X display");
    IPtr<IPlugView> view = owned(new WebViewPlugView(rig.controller, ui.path, program.path));
    view->setFrame(rig.frame);
    testing::internal::CaptureStderr();
    // A program that ends at once may be gone before the view opens it.
    if (view->attached(rig.window, kPlatformTypeX11EmbedWindowID) == kResultOk) {
      EXPECT_TRUE(rig.frame->runUntil(10, [&] { return rig.frame->registrations() == 0; })) << c.name;
    }
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rig.lastEditorError(), c.error) << c.name;
    EXPECT_NE(console.find("norva-plugin-shell: web view: "), std::string::npos) << c.name;
    EXPECT_EQ(probe::childProcessCount(), 0u) << c.name << ": reaped at once";
    EXPECT_EQ(rig.frame->registrations(), 0u) << c.name;
    EXPECT_EQ(view->removed(), kResultOk) << c.name;
    EXPECT_EQ(rig.count(DiagnosticLifecycleKind::editorClosed), rig.count(DiagnosticLifecycleKind::editorOpened))
        << c.name;
  }
}

TEST(EditorView, AProgramThatHangsIsKilledWhenTheViewIsRemoved) {
  Rig rig;
  TempFolder ui;
  FakeProgram program("exec sleep 60");
  IPtr<IPlugView> view = owned(new WebViewPlugView(rig.controller, ui.path, program.path));
  view->setFrame(rig.frame);
  ASSERT_EQ(view->attached(rig.window, kPlatformTypeX11EmbedWindowID), kResultOk);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(view->removed(), kResultOk);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kWebViewParkWaitMs + 2 * kWebViewExitWaitMs + 1000));
  EXPECT_EQ(probe::childProcessCount(), 0u);
  // Attaching again starts afresh.
  ASSERT_EQ(view->attached(rig.window, kPlatformTypeX11EmbedWindowID), kResultOk);
  EXPECT_EQ(probe::childProcessCount(), 1u);
}

// --- the controller's view ------------------------------------------------------------------------

TEST(EditorView, TheControllersEditorComesFromTheInstalledFactory) {
  Rig rig;
  EXPECT_EQ(rig.controller->createView("editor"), nullptr) << "no factory, no view";
  static NorvaController *askedBy = nullptr;
  static const char *askedRoot = "unset";
  NorvaController::setEditorViewFactory([](NorvaController *controller, const char *root) -> IPlugView * {
    askedBy = controller;
    askedRoot = root;
    return createWebViewEditor(controller, "/tmp");
  });
  IPtr<IPlugView> view = owned(rig.controller->createView("editor"));
  EXPECT_TRUE(view);
  EXPECT_EQ(askedBy, rig.controller);
  EXPECT_EQ(askedRoot, nullptr) << "the bundle's own page";
  EXPECT_EQ(rig.controller->createView("Editor"), nullptr);
  NorvaController::setEditorViewFactory(nullptr);
}

} // namespace
