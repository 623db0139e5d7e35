// norva-probe: renders the Tindrel sequencer offline into a MIDI file.
#include <iostream>
#include <string>
#include <vector>

#include "probe_cli.h"

int main(int argc, char **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const int status = norva::probe::runProbe(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
