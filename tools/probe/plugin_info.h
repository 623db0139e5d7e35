// norva-probe info: what a VST 3 module says about itself — the factory, its
// classes, the processor's buses and the controller's parameters.
#pragma once

#include <string>

namespace norva::probe {

// The whole description as text, one fact per line. False with error when
// the module cannot be loaded or the plug-in cannot be created.
bool describePlugin(const std::string &bundlePath, std::string &text, std::string &error);

} // namespace norva::probe
