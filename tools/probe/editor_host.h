// norva-probe editor: the plug-in's editor in a small X11 host of the
// probe's own. The host opens a window (Xlib, no toolkit), creates and
// connects the plug-in's two halves, asks the controller for its "editor"
// view and attaches it to the window with a plug frame that resizes the
// window (IPlugFrame) and offers the probe's run loop (HostRunLoop). It
// learns that the page's "norva.ready" reached the controller from the
// controller's hello on its way to the page, seen by the run loop's tap.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "probe_options.h"

namespace norva::probe {

// How long an editor may take from attaching to the controller's hello.
inline constexpr double kEditorHelloTimeoutSeconds = 30.0;

// One attach-and-remove cycle as the host saw it. Times are milliseconds
// from the call to attached; -1 when it never came.
struct EditorCycle {
  double pageReadyMs = -1;  // the page's norva.ready left the web view program
  double helloMs = -1;      // the controller's hello left the plug-in
  uint64_t residentBytes = 0; // the probe's resident memory once the view was released
  uint32_t children = 0;      // child processes of the probe left then (live or not reaped)
};

// The editor command: see the usage text. Errors go to err as prefixed
// lines; the cycles' figures and the screenshot's facts to out.
int runEditor(const std::string &bundlePath, const EditorOptions &options, std::ostream &out, std::ostream &err);

// Writes 8-bit RGB rows (width * 3 bytes each) as a PNG file.
bool writePngFile(const std::string &path, uint32_t width, uint32_t height, const std::vector<uint8_t> &rgb,
                  std::string &error);

// The probe's resident memory, from /proc/self/statm; 0 when unknown.
uint64_t residentBytes();
// Processes whose parent is the probe, zombies included.
uint32_t childProcessCount();

} // namespace norva::probe
