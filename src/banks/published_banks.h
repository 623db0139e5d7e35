// What the sequencer has been handed from the banks: the pad overrides it
// keeps (and saves with the project), and runtime banks, which it refuses:
// this sequencer has no sample memory.
#pragma once

#include <memory>

#include "banks/pad_overrides.h"

namespace norva {

struct StagedBank; // staged by the bank loader

class PublishedBanks {
public:
  // Always false: there is nothing to play a bank with.
  bool publishRuntimeBank(const std::shared_ptr<const StagedBank> &) { return false; }
  // Keeps a set within the acceptance limits; false keeps the last one.
  bool publishPadOverrides(const SamplerPadOverrides &overrides) {
    if (!padOverridesPublishable(overrides)) return false;
    pads_ = overrides;
    return true;
  }
  const SamplerPadOverrides &padOverrides() const { return pads_; }

private:
  SamplerPadOverrides pads_;
};

} // namespace norva
