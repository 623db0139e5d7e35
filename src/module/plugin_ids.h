// Class identities of the plug-in: the host pairs processor and controller
// by these UIDs, and projects store them, so they never change.
#pragma once

#include "vst3/funknown.h"

namespace norva {

inline const Steinberg::FUID kProcessorUid(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
inline const Steinberg::FUID kControllerUid(0x67EE543A, 0x68EE55CD, 0x65EE5114, 0x66EE52A7);

inline constexpr const char *kModuleId = "music.norva.tindrel";
inline constexpr const char *kPluginVersion = "1.0.0";

} // namespace norva
