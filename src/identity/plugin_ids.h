// Identities of the plug-in: the class UIDs by which the host pairs processor
// and controller (projects store them, so they never change), the module id,
// the product and vendor names and the version. Processor, controller and
// module entry all read them here.
#pragma once

#include "vst3/abi/funknown.h"

namespace norva {

inline constexpr Steinberg::FUID kProcessorUid(0x643D3396, 0x653D3529, 0x623D3070, 0x633D3203);
inline constexpr Steinberg::FUID kControllerUid(0x67EE543A, 0x68EE55CD, 0x65EE5114, 0x66EE52A7);

inline constexpr const char *kModuleId = "music.norva.tindrel";
inline constexpr const char *kPluginName = "Tindrel";
inline constexpr const char *kVendorName = "Norva Music";
inline constexpr const char *kPluginVersion = "1.0.0";

} // namespace norva
