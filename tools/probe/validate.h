// norva-probe validate: the probe's own checks of a VST 3 plug-in, run
// against the bundle as any host would load it.
#pragma once

#include <ostream>
#include <string>

namespace norva::probe {

// Runs every check and prints one line per check, "PASS name" or
// "FAIL name: reason", then "N passed, M failed". True when none failed.
bool validatePlugin(const std::string &bundlePath, std::ostream &out);

} // namespace norva::probe
