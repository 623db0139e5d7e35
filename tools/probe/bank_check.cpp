#include "bank_check.h"

#include "banks/runtime_bank.h"
#include "probe_options.h"

namespace norva::probe {
namespace {

std::string quoted(const std::string &text) { return "\"" + text + "\""; }

} // namespace

bool runBankCheck(const std::string &folder, const std::string &instrumentId, std::ostream &out,
                  std::ostream &err) {
  const RuntimeBankLoad load = loadRuntimeBank(folder, 0, instrumentId);
  const StagedBank &bank = load.bank;
  out << "outcome: " << runtimeBankOutcomeName(load.outcome) << '\n';
  if (!load.error.empty()) out << "error: " << load.error << '\n';
  if (!bank.id.empty()) {
    out << "bank: " << bank.id << ' ' << quoted(bank.name) << " version " << quoted(bank.version) << '\n';
    out << "sha256: " << bank.sha256 << '\n';
  }
  if (!bank.instrumentList.empty())
    out << "instrument: " << bank.instrumentId << ' ' << quoted(bank.instrumentName) << " ("
        << bank.instrumentList << ")\n";
  for (const StagedPositioning &positioning : bank.positionings)
    out << "positioning: " << positioning.id << ' ' << quoted(positioning.name) << " (" << positioning.list << ")\n";
  for (const StagedPreset &preset : bank.presets)
    out << "preset: " << preset.id << ' ' << quoted(preset.name) << " for " << quoted(preset.instrument) << ", "
        << preset.params.size() << (preset.params.size() == 1 ? " parameter\n" : " parameters\n");
  if (load.outcome == kBankOk) {
    out << "zones: " << bank.zones.size() << '\n';
    out << "arena frames: " << bank.samples.size() << '\n';
    out << "sample rate: " << formatNumber(bank.sampleRate) << '\n';
    return true;
  }
  err << "norva-probe: bank check failed: " << runtimeBankOutcomeName(load.outcome) << '\n';
  return false;
}

} // namespace norva::probe
