#include "editor_host.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <png.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "bridge/bridge_message.h"
#include "bridge/bridge_outbound.h"
#include "editor/editor_page.h"
#include "host_run_loop.h"
#include "probe_cli.h"
#include "vst3/abi/ivsteditcontroller.h"
#include "vst3/sdk/smartpointer.h"
#include "vst3_plugin.h"

namespace norva::probe {

using namespace Steinberg;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *kPrefix = "norva-probe: ";
constexpr const char *kWindowTitle = "norva-probe editor";
// The window's own colour, which no editor page is expected to paint: every
// pixel of another colour in a screenshot is the page's.
constexpr unsigned short kBackgroundRed = 0xffff;
constexpr unsigned short kBackgroundGreen = 0x0000;
constexpr unsigned short kBackgroundBlue = 0xffff;
constexpr int kLoopWaitMs = 10;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The text a frame's JSON starts with for a message of type.
std::string typeOpening(const char *type) { return std::string("{\"type\":\"") + type + '"'; }

// The probe's connection to the X server and the window it hands the editor,
// a new one for each attach, as hosts make a window for each editor.
class X11Window {
public:
  ~X11Window() {
    if (display_ == nullptr) return;
    destroy();
    XCloseDisplay(display_);
  }

  bool open(std::string &error) {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
      error = "cannot open the X display (is DISPLAY set?)";
      return false;
    }
    const int screen = DefaultScreen(display_);
    XColor colour{};
    colour.red = kBackgroundRed;
    colour.green = kBackgroundGreen;
    colour.blue = kBackgroundBlue;
    colour.flags = DoRed | DoGreen | DoBlue;
    if (XAllocColor(display_, DefaultColormap(display_, screen), &colour) == 0) colour.pixel = BlackPixel(display_, screen);
    background_ = colour.pixel;
    deleteAtom_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    return true;
  }

  void create(int width, int height) {
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, unsigned(width), unsigned(height), 0,
                                  BlackPixel(display_, screen), background_);
    XStoreName(display_, window_, kWindowTitle);
    XSetWMProtocols(display_, window_, &deleteAtom_, 1);
    XSelectInput(display_, window_, StructureNotifyMask);
    XMapWindow(display_, window_);
    XSync(display_, False);
    width_ = width;
    height_ = height;
  }

  void destroy() {
    if (window_ == 0) return;
    XDestroyWindow(display_, window_);
    XSync(display_, False);
    window_ = 0;
  }

  void resize(int width, int height) {
    XResizeWindow(display_, window_, unsigned(width), unsigned(height));
    XFlush(display_);
    width_ = width;
    height_ = height;
  }

  // Handles what the server sent; a view gets the window's new sizes.
  void handleEvents(IPlugView *view) {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage && Atom(event.xclient.data.l[0]) == deleteAtom_) {
        closed_ = true;
      } else if (event.type == DestroyNotify && window_ != 0 && event.xdestroywindow.window == window_) {
        closed_ = true;
      } else if (event.type == ConfigureNotify && window_ != 0 && event.xconfigure.window == window_ &&
                 (event.xconfigure.width != width_ || event.xconfigure.height != height_)) {
        width_ = event.xconfigure.width;
        height_ = event.xconfigure.height;
        if (view == nullptr) continue;
        ViewRect rect{0, 0, width_, height_};
        if (view->checkSizeConstraint(&rect) == kResultOk) view->onSize(&rect);
      }
    }
  }

  // The window's pixels, inner windows included, as 8-bit RGB; and how many
  // of them are not the window's own background.
  bool capture(std::vector<uint8_t> &rgb, uint64_t &painted, std::string &error) {
    XSync(display_, False);
    XImage *image = XGetImage(display_, window_, 0, 0, unsigned(width_), unsigned(height_), AllPlanes, ZPixmap);
    if (image == nullptr) {
      error = "cannot read the window's pixels";
      return false;
    }
    Visual *visual = DefaultVisual(display_, DefaultScreen(display_));
    const auto channel = [](unsigned long pixel, unsigned long mask) {
      if (mask == 0) return uint8_t(0);
      int shift = 0;
      while (((mask >> shift) & 1) == 0) ++shift;
      const unsigned long top = mask >> shift;
      return uint8_t(((pixel & mask) >> shift) * 255 / top);
    };
    rgb.resize(size_t(width_) * size_t(height_) * 3);
    painted = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y);
        if (pixel != background_) ++painted;
        uint8_t *out = &rgb[(size_t(y) * size_t(width_) + size_t(x)) * 3];
        out[0] = channel(pixel, visual->red_mask);
        out[1] = channel(pixel, visual->green_mask);
        out[2] = channel(pixel, visual->blue_mask);
      }
    }
    XDestroyImage(image);
    return true;
  }

  Window id() const { return window_; }
  int fd() const { return ConnectionNumber(display_); }
  bool closed() const { return closed_; }
  int width() const { return width_; }
  int height() const { return height_; }

private:
  Display *display_ = nullptr;
  Window window_ = 0;
  Atom deleteAtom_ = 0;
  unsigned long background_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool closed_ = false;
};

// The host side of the view: its plug frame, which is also the run loop.
class ProbePlugFrame final : public IPlugFrame, public Linux::IRunLoop {
public:
  explicit ProbePlugFrame(X11Window &window) : window_(window) {}

  tresult PLUGIN_API queryInterface(const TUID iid, void **obj) override {
    if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
      addRef();
      *obj = static_cast<IPlugFrame *>(this);
      return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
      addRef();
      *obj = static_cast<Linux::IRunLoop *>(this);
      return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
  }
  NORVA_PROBE_REFCOUNT

  tresult PLUGIN_API resizeView(IPlugView *view, ViewRect *rect) override {
    if (view == nullptr || rect == nullptr) return kInvalidArgument;
    window_.resize(rect->right - rect->left, rect->bottom - rect->top);
    return view->onSize(rect);
  }
  tresult PLUGIN_API registerEventHandler(Linux::IEventHandler *handler, Linux::FileDescriptor fd) override {
    return loop.registerEventHandler(handler, fd);
  }
  tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler *handler) override {
    return loop.unregisterEventHandler(handler);
  }
  tresult PLUGIN_API registerTimer(Linux::ITimerHandler *handler, Linux::TimerInterval ms) override {
    return loop.registerTimer(handler, ms);
  }
  tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler *handler) override { return loop.unregisterTimer(handler); }

  HostRunLoop loop;

private:
  X11Window &window_;
};

// The plug-in, the window and the view between attach and remove.
class EditorHost {
public:
  bool open(const std::string &bundlePath, std::string &error) {
    module_ = Vst3Module::load(bundlePath, error);
    if (module_ == nullptr) return false;
    host_ = owned(new HostApplication());
    plugin_ = PluginInstance::create(*module_, host_.get(), error);
    if (plugin_ == nullptr) return false;
    if (!window_.open(error)) return false;
    frame_ = owned(new ProbePlugFrame(window_));
    frame_->loop.tapSockets([this](TapDirection direction, const EditorFrame &frame) { observe(direction, frame); });
    return true;
  }

  ~EditorHost() {
    if (view_ != nullptr) remove();
    frame_ = nullptr;
    plugin_.reset();  // the instance goes before the module that made it
  }

  bool attach(std::string &error) {
    view_ = plugin_->controller()->createView(Vst::ViewType::kEditor);
    if (view_ == nullptr) {
      error = "the controller made no editor view";
      return false;
    }
    if (view_->isPlatformTypeSupported(kPlatformTypeX11EmbedWindowID) != kResultTrue) {
      error = "the editor view does not take an X11 window";
      return false;
    }
    ViewRect rect{0, 0, kEditorInitialWidth, kEditorInitialHeight};
    view_->getSize(&rect);
    window_.create(rect.right - rect.left, rect.bottom - rect.top);
    view_->setFrame(static_cast<IPlugFrame *>(frame_.get()));
    cycle_ = EditorCycle();
    pageReadyMs_ = -1;
    helloMs_ = -1;
    attachedAt_ = Clock::now();
    const tresult attached =
        view_->attached(reinterpret_cast<void *>(uintptr_t(window_.id())), kPlatformTypeX11EmbedWindowID);
    if (attached != kResultOk) {
      error = "the editor view refused to attach: " + resultName(attached);
      return false;
    }
    return true;
  }

  // Removes the view and closes its window, in the order hosts do or, with
  // windowFirst, the other way round.
  void remove(bool windowFirst = false) {
    cycle_.pageReadyMs = pageReadyMs_;
    cycle_.helloMs = helloMs_;
    if (windowFirst) window_.destroy();
    view_->removed();
    view_->setFrame(nullptr);
    view_->release();
    view_ = nullptr;
    window_.destroy();
    cycle_.residentBytes = residentBytes();
    cycle_.children = childProcessCount();
  }

  // Runs the window and the run loop until done() or seconds have passed;
  // false when the window closed first.
  template <typename Done> bool runUntil(double seconds, Done done) {
    const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(seconds));
    while (!done() && Clock::now() < until) {
      std::vector<pollfd> own{{window_.fd(), POLLIN, 0}};
      frame_->loop.runOnce(kLoopWaitMs, own);
      window_.handleEvents(view_);
      if (window_.closed()) return false;
      // The probe's message proxies log every message; a session keeps none.
      plugin_->toController()->clearLog();
      plugin_->toProcessor()->clearLog();
    }
    return true;
  }

  X11Window &window() { return window_; }
  const EditorCycle &cycle() const { return cycle_; }
  bool helloSeen() const { return helloMs_ >= 0; }
  size_t registrations() const { return frame_->loop.handlerCount() + frame_->loop.timerCount(); }

private:
  // On the relay's thread. attachedAt_ is set before the plug-in starts
  // anything that could be relayed.
  void observe(TapDirection direction, const EditorFrame &frame) {
    static const std::string ready = typeOpening(kBridgeReady);
    static const std::string hello = typeOpening(kBridgeHello);
    if (direction == TapDirection::toPlugin && frame.kind == EditorFrameKind::pageMessage &&
        frame.payload.starts_with(ready) && pageReadyMs_ < 0) {
      pageReadyMs_ = msSince(attachedAt_);
    } else if (direction == TapDirection::fromPlugin && frame.kind == EditorFrameKind::deliver &&
               frame.payload.starts_with(hello) && helloMs_ < 0) {
      helloMs_ = msSince(attachedAt_);
    }
  }

  std::unique_ptr<Vst3Module> module_;
  IPtr<HostApplication> host_;
  std::unique_ptr<PluginInstance> plugin_;
  X11Window window_;
  IPtr<ProbePlugFrame> frame_;
  IPlugView *view_ = nullptr;
  std::atomic<Clock::time_point> attachedAt_{};
  std::atomic<double> pageReadyMs_{-1};
  std::atomic<double> helloMs_{-1};
  EditorCycle cycle_;
};

std::string formatMs(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

std::string formatMiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", double(bytes) / 1048576.0);
  return text;
}

int runCycles(EditorHost &host, uint32_t cycles, bool windowFirst, std::ostream &out, std::ostream &err) {
  std::vector<EditorCycle> done;
  std::string error;
  for (uint32_t i = 1; i <= cycles; ++i) {
    if (!host.attach(error)) {
      err << kPrefix << "cycle " << i << ": " << error << '\n';
      return kExitFailure;
    }
    const bool open = host.runUntil(kEditorHelloTimeoutSeconds, [&] { return host.helloSeen(); });
    host.remove(windowFirst);
    const EditorCycle &cycle = host.cycle();
    out << "cycle " << i << ": hello after " << (cycle.helloMs >= 0 ? formatMs(cycle.helloMs) : "-")
        << " (the page's norva.ready left it after "
        << (cycle.pageReadyMs >= 0 ? formatMs(cycle.pageReadyMs) : "-") << "), resident "
        << formatMiB(cycle.residentBytes) << ", child processes " << cycle.children << '\n';
    out.flush();
    if (!open) {
      err << kPrefix << "the window was closed\n";
      return kExitFailure;
    }
    if (cycle.helloMs < 0) {
      err << kPrefix << "cycle " << i << ": no hello within " << kEditorHelloTimeoutSeconds << " s\n";
      return kExitFailure;
    }
    // The editor's program stays parked for the next open: one child and
    // its watch and timer on the run loop, nothing more.
    if (cycle.children > 1 || host.registrations() > 2) {
      err << kPrefix << "cycle " << i << ": removing the editor left " << cycle.children << " child processes and "
          << host.registrations() << " run loop registrations\n";
      return kExitFailure;
    }
    done.push_back(cycle);
  }
  if (done.size() > 1) {
    std::vector<double> reopen;
    for (size_t i = 1; i < done.size(); ++i) reopen.push_back(done[i].helloMs);
    std::sort(reopen.begin(), reopen.end());
    out << "first open " << formatMs(done.front().helloMs) << ", reopen median " << formatMs(reopen[reopen.size() / 2])
        << ", max " << formatMs(reopen.back()) << "; resident after the first close "
        << formatMiB(done.front().residentBytes) << ", after the last " << formatMiB(done.back().residentBytes) << '\n';
  }
  return kExitOk;
}

int runScreenshot(EditorHost &host, const EditorOptions &options, std::ostream &out, std::ostream &err) {
  std::string error;
  if (!host.attach(error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  if (!host.runUntil(options.afterSeconds, [] { return false; })) {
    err << kPrefix << "the window was closed\n";
    return kExitFailure;
  }
  std::vector<uint8_t> rgb;
  uint64_t painted = 0;
  const bool captured = host.window().capture(rgb, painted, error) &&
                        writePngFile(options.screenshotPath, uint32_t(host.window().width()),
                                     uint32_t(host.window().height()), rgb, error);
  host.remove();
  if (!captured) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  const EditorCycle &cycle = host.cycle();
  const uint64_t total = uint64_t(host.window().width()) * uint64_t(host.window().height());
  out << "screenshot " << options.screenshotPath << ": " << host.window().width() << "x" << host.window().height()
      << ", " << painted << " of " << total << " pixels painted by the editor\n";
  out << "hello after " << (cycle.helloMs >= 0 ? formatMs(cycle.helloMs) : "-") << '\n';
  if (cycle.helloMs < 0) {
    err << kPrefix << "the page's norva.ready never reached the controller\n";
    return kExitFailure;
  }
  // The page fills the window: a view that shows less than half of it did
  // not come up.
  if (painted * 2 < total) {
    err << kPrefix << "the editor painted only " << painted << " of " << total << " pixels\n";
    return kExitFailure;
  }
  return kExitOk;
}

int runSession(EditorHost &host, const EditorOptions &options, std::ostream &out, std::ostream &err) {
  if (options.cycles > 0) {
    const int status = runCycles(host, options.cycles, options.closeWindowFirst, out, err);
    if (status != kExitOk || options.screenshotPath.empty()) return status;
  }
  if (!options.screenshotPath.empty()) return runScreenshot(host, options, out, err);
  std::string error;
  if (!host.attach(error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  host.runUntil(1e9, [] { return false; });
  host.remove();
  return kExitOk;
}

} // namespace

int runEditor(const std::string &bundlePath, const EditorOptions &options, std::ostream &out, std::ostream &err) {
  int status = kExitFailure;
  {
    std::string error;
    EditorHost host;
    if (!host.open(bundlePath, error)) {
      err << kPrefix << error << '\n';
      return kExitFailure;
    }
    status = runSession(host, options, out, err);
  }
  // The module has gone, and whatever it started with it.
  const uint32_t children = childProcessCount();
  out << "child processes once the module is unloaded: " << children << '\n';
  if (children != 0) {
    err << kPrefix << "the module left " << children << " child processes behind\n";
    return kExitFailure;
  }
  return status;
}

bool writePngFile(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint8_t> &rgb,
                  std::string &error) {
  if (rgb.size() != size_t(width) * height * 3) {
    error = "the image has the wrong size";
    return false;
  }
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    error = "cannot write " + path;
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool written = false;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) png_write_row(png, &rgb[size_t(y) * width * 3]);
    png_write_end(png, nullptr);
    written = true;
  }
  png_destroy_write_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr);
  if (std::fclose(file) != 0) written = false;
  if (!written) error = "cannot write " + path;
  return written;
}

uint64_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0;
  uint64_t resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * uint64_t(::sysconf(_SC_PAGESIZE));
}

uint32_t childProcessCount() {
  const std::string self = std::to_string(::getpid());
  uint32_t count = 0;
  DIR *proc = ::opendir("/proc");
  if (proc == nullptr) return 0;
  while (const dirent *entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (name) state ppid ...: the name may hold spaces and brackets.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 1));
    std::string state;
    std::string parent;
    if (fields >> state >> parent && parent == self) ++count;
  }
  ::closedir(proc);
  return count;
}

} // namespace norva::probe
