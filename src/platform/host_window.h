// The kind of window a host hands an editor on this system: an X11 window id
// on Linux, an NSView on macOS. The editor names it to the host with the
// VST 3 platform type of that kind.
#pragma once

namespace norva {

enum class HostWindowKind { x11Window, cocoaView };

#if defined(__APPLE__)
inline constexpr HostWindowKind kHostWindowKind = HostWindowKind::cocoaView;
#else
inline constexpr HostWindowKind kHostWindowKind = HostWindowKind::x11Window;
#endif

} // namespace norva
