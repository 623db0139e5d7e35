// What the sequencer has been handed from the banks: the pad overrides it
// keeps and saves with the project. (It has no sample memory: runtime banks
// have nowhere to go.)
#pragma once

#include <memory>

#include "banks/pad_overrides.h"
#include "banks/runtime_bank.h"

namespace norva {

// Why every staged bank is refused.
inline constexpr const char *kEngineRefusedBankError = "the engine refused the staged bank (arena capacity)";

class PublishedBanks {
public:
  // Keeps a set within the acceptance limits; false keeps the last one.
  bool publishPadOverrides(const SamplerPadOverrides &overrides) {
    if (!padOverridesPublishable(overrides)) return false;
    pads_ = overrides;
    return true;
  }
  const SamplerPadOverrides &padOverrides() const { return pads_; }

  // A staged bank offered after a load. This sequencer has no sample memory
  // to hold one: every bank is refused and nothing is kept.
  bool publishRuntimeBank(std::shared_ptr<const StagedBank>) { return false; }

private:
  SamplerPadOverrides pads_;
};

} // namespace norva
