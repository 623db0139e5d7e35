// The controllers of this module that are alive. The diagnostic bridge's
// exports take objects from outside the module; only one found here is
// treated as a NorvaController. Answering IEditController is not enough: a
// foreign object, or a controller of another copy of this plug-in loaded
// beside it, would answer that too.
#pragma once

#include "vst3/abi/funknown.h"

namespace norva {

class NorvaController;

// Each controller enters itself when made and leaves when destroyed.
void enterLiveController(NorvaController &controller);
void leaveLiveController(NorvaController &controller);
// The live controller that object is, asked through IEditController (the
// extra reference released at once); null for anything else.
NorvaController *liveControllerOf(Steinberg::FUnknown *object);

} // namespace norva
