#include "probe_cli.h"

#include <unistd.h>

#include "bank_check.h"
#include "bridge.h"
#include "midi_file.h"
#include "params/authored_plane.h"
#include "params/params.h"
#include "state/pattern_json.h"
#include "state/state_document.h"
#include "plugin_info.h"
#include "render.h"
#include "summary.h"
#include "validate.h"
#include "vst3_backend.h"

namespace norva::probe {
namespace {

constexpr const char *kPrefix = "norva-probe: ";

bool hasSetting(const RenderOptions &options, uint32_t id) {
  for (const ParameterSetting &setting : options.settings) {
    if (setting.id == id) return true;
  }
  return false;
}

// The value a parameter held during the render: the command line's, else,
// after a restored state, what the plug-in reports, else the default.
double renderedValue(const RenderOptions &options, SequencerBackend &backend, uint32_t id) {
  double value = 0;
  if (!hasSetting(options, id) && (!options.loadStatePath.empty() || !options.patternPath.empty()) &&
      backend.currentPlainValue(id, value))
    return value;
  return effectiveParameterValue(options, id);
}

// The state a pattern file stands for: the factory settings with the file's
// plane, and the step-velocity parameters and Length holding the velocities
// and length of the pattern the render selects (they own that pattern's).
bool patternFileState(const RenderOptions &options, std::vector<uint8_t> &state, std::string &error) {
  std::vector<uint8_t> file;
  if (!readBinaryFile(options.patternPath, file, error)) return false;
  uint8_t plane[kPlaneBytes];
  std::string fault;
  if (!parsePatternFile(std::string_view(reinterpret_cast<const char *>(file.data()), file.size()), plane, fault)) {
    error = options.patternPath + ": " + fault;
    return false;
  }
  double values[kParamCount];
  for (uint32_t i = 0; i < kParamCount; ++i) values[i] = effectiveParameterValue(options, i);
  const double selected = values[kParamPattern];
  if (selected >= 0 && selected < kPlanePatterns) {
    for (int step = 0; step < kPlaneSteps; ++step) {
      const uint32_t id = kParamFirstStepVelocity + uint32_t(step);
      if (!hasSetting(options, id))
        values[id] = plane[planeLaneOffset(kStepVelocity) + planeCell(int(selected), step)];
    }
    if (!hasSetting(options, kParamLength)) values[kParamLength] = plane[planeRowOffset(kPatternLength) + int(selected)];
  }
  const AuthoredStateOut authored{plane, sizeof plane, uint32_t(kPlaneVersion)};
  const std::string text = writeStateJson(std::span<const double, kParamCount>(values), -1, nullptr,
                                          SamplerAssetDiagnostic::none, SamplerZoneProgram::legacySingleZone,
                                          nullptr, nullptr, &authored);
  state.assign(text.begin(), text.end());
  return true;
}

} // namespace

int runRender(const RenderOptions &options, SequencerBackend &backend, std::ostream &out,
              std::ostream &err) {
  std::string error;
  if (!options.loadStatePath.empty() || !options.patternPath.empty()) {
    std::vector<uint8_t> state;
    const bool read = options.patternPath.empty() ? readBinaryFile(options.loadStatePath, state, error)
                                                  : patternFileState(options, state, error);
    if (!read || !backend.setInitialState(state, error)) {
      err << kPrefix << error << '\n';
      return kExitFailure;
    }
  }

  RenderResult result;
  if (!renderSequence(backend, options, result, error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  if (!result.warning.empty()) err << kPrefix << "warning: " << result.warning << '\n';

  const double bpm = renderedValue(options, backend, kParamBpm);
  const auto channel = static_cast<uint32_t>(renderedValue(options, backend, kParamChannel));
  if (!writeRenderMidiFile(options.outPath, result.events, options.sampleRate, bpm, channel, options.totalFrames,
                           error)) {
    err << kPrefix << error << '\n';
    return kExitFailure;
  }
  if (!options.saveStatePath.empty()) {
    std::vector<uint8_t> state;
    if (!backend.readState(state, error) || !writeBinaryFile(options.saveStatePath, state, error)) {
      err << kPrefix << error << '\n';
      return kExitFailure;
    }
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
  switch (command.kind) {
  case CommandKind::Help:
    out << usageText();
    return kExitOk;
  case CommandKind::Info: {
    std::string text;
    if (!describePlugin(command.bundlePath, text, error)) {
      err << kPrefix << error << '\n';
      return kExitFailure;
    }
    out << text;
    return kExitOk;
  }
  case CommandKind::Validate:
    return validatePlugin(command.bundlePath, out) ? kExitOk : kExitFailure;
  case CommandKind::BankCheck:
    return runBankCheck(command.bankFolder, command.instrumentId, out, err) ? kExitOk : kExitFailure;
  case CommandKind::Bridge:
    return runBridge(command.bundlePath, command.bridgeRenderPath, STDIN_FILENO, out, err);
  case CommandKind::Render:
    break;
  }
  Vst3Backend backend(command.render.bundlePath);
  return runRender(command.render, backend, out, err);
}

} // namespace norva::probe
