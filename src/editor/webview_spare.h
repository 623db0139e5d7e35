// The parked web view program. Starting the program costs most of a second
// (the toolkit, then WebKit's own processes), so an editor that closes
// parks its program instead of ending it: the page leaves the host's window
// and is loaded afresh, its first message held until the next editor opens.
// The next editor with the same UI root takes the parked program and only
// has to show it; a program nobody takes within kWebViewSpareMs is closed.
//
// One program at most is parked for the whole module. It is watched on the
// run loop of the editor that parked it: a program that ends is reaped at
// once, and the expiry is a timer there. The module closes it on exit.
// Everything runs on the host's user-interface thread.
#pragma once

#include <memory>
#include <string>

#include "editor/webview_process.h"
#include "vst3/abi/iplugview.h"

namespace norva {

// How long a parked program waits to be taken.
inline constexpr Steinberg::uint64 kWebViewSpareMs = 30000;
// How long an editor that closes waits for its program to say it parked.
inline constexpr int kWebViewParkWaitMs = 500;

// Parks process (running, its page open) for root: sends park, waits for
// the program to confirm, and keeps it, watched on runLoop. Any program
// parked before is closed. A program that does not confirm, or a run loop
// that refuses the watch, is closed instead. False when it was closed.
bool parkWebView(std::unique_ptr<WebViewProcess> process, const std::string &root,
                 Steinberg::Linux::IRunLoop *runLoop);
// The parked program for root, no longer watched, ready for an open frame;
// null when none is parked for root (one parked for another root is closed)
// or it has ended.
std::unique_ptr<WebViewProcess> takeParkedWebView(const std::string &root);
// Closes the parked program, if any.
void closeParkedWebView();

} // namespace norva
