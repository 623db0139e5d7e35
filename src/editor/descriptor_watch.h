// A descriptor's handler on the host's run loop, calling one function when
// the descriptor is readable. The host may keep references to it after its
// owner lets go, so it lives by its reference count and forgets the function
// when the owner is done with it.
#pragma once

#include <functional>
#include <utility>

#include "vst3/abi/iplugview.h"
#include "vst3/sdk/fobject.h"

namespace norva {

class DescriptorWatch final : public Steinberg::FObject, public Steinberg::Linux::IEventHandler {
public:
  explicit DescriptorWatch(std::function<void()> ready) : ready_(std::move(ready)) {}

  void PLUGIN_API onFDIsSet(Steinberg::Linux::FileDescriptor) override {
    // A copy: the call may end the watch, which forgets ready_.
    if (const std::function<void()> ready = ready_) ready();
  }
  void forget() { ready_ = nullptr; }

  OBJ_METHODS(DescriptorWatch, Steinberg::FObject)
  DEF_INTERFACES_1(Steinberg::Linux::IEventHandler, Steinberg::FObject)
  REFCOUNT_METHODS(Steinberg::FObject)

private:
  std::function<void()> ready_;
};

} // namespace norva
