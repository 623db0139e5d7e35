// What the sequencer has been handed from the banks: the pad overrides it
// keeps and saves with the project. (It has no sample memory: runtime banks
// have nowhere to go.)
#pragma once

#include "banks/pad_overrides.h"

namespace norva {

class PublishedBanks {
public:
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
