#include "probe_cli.h"

#include "kernel_backend.h"
#include "midi_file.h"
#include "params/params.h"
#include "render.h"
#include "summary.h"

namespace norva::probe {
namespace {

constexpr const char *kPrefix = "norva-probe: ";
constexpr uint32_t kBpmParam = 1;
constexpr uint32_t kChannelParam = 20;

} // namespace

int runRender(const RenderOptions &options, SequencerBackend &backend, std::ostream &out,
              std::ostream &err) {
  RenderResult result;
  std::string error;
  if (!renderSequence(backend, options, result, error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  if (!result.warning.empty()) err << kPrefix << "warning: " << result.warning << '\n';

  const double bpm = effectiveParameterValue(options, kBpmParam);
  const auto channel = static_cast<uint32_t>(effectiveParameterValue(options, kChannelParam));
  const double rate = options.sampleRate;
  std::vector<uint8_t> bytes;
  if (!buildMidiFile(microsPerQuarter(bpm), toMidiFileEvents(result.events, rate, bpm, channel),
                     frameToTick(options.totalFrames, rate, bpm), bytes, error) ||
      !writeBinaryFile(options.outPath, bytes, error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }

  out << formatSummary(summarizeRender(result.events));
  return kExitOk;
}

int runProbe(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  if (args.empty()) {
    err << usageText();
    return kExitUsage;
  }
  ParsedCommand command;
  std::string error;
  if (!parseCommandLine(args, command, error)) {
    err << kPrefix << error << '\n';
    return kExitUsage;
  }
  if (command.kind == CommandKind::Help) {
    out << usageText();
    return kExitOk;
  }
  KernelBackend backend;
  return runRender(command.render, backend, out, err);
}

} // namespace norva::probe
