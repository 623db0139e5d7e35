// norva-probe's command line as a function, so tests can run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "probe_options.h"
#include "sequencer_backend.h"

namespace norva::probe {

enum ExitStatus : int { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// args excludes the program name. Renders through the bundle named on the
// command line.
int runProbe(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// The render command with a given backend: restore the state (--load-state),
// render, write the file and the state (--save-state), print the summary on
// out; errors and warnings go to err as single prefixed lines.
int runRender(const RenderOptions &options, SequencerBackend &backend, std::ostream &out,
              std::ostream &err);

} // namespace norva::probe
