// The controller's cadence clock: a repeating timer of kCadenceRateHz on the
// host's run loop (the Linux IRunLoop that the host context offers), calling
// one function on the host's user-interface thread. A host without a run
// loop gets no clock; the editor's view keeps its own timer.
#pragma once

#include <functional>

#include "vst3/abi/funknown.h"

namespace Steinberg::Linux {
class IRunLoop;
}

namespace norva {

// Ticks per second of the cadence: the controller's clock, the editor's
// view timer, and the fastest rate an editor may subscribe feeds at.
inline constexpr double kCadenceRateHz = 30.0;
// The run loop's timers count whole milliseconds: 1/30 s is 33.
inline constexpr Steinberg::uint64 kCadenceIntervalMs = static_cast<Steinberg::uint64>(1000.0 / kCadenceRateHz);

class CadenceClock {
public:
  CadenceClock() = default;
  ~CadenceClock() { stop(); }
  CadenceClock(const CadenceClock &) = delete;
  CadenceClock &operator=(const CadenceClock &) = delete;

  // Registers the timer on the run loop that context answers with; false
  // (and no clock) when it answers none, refuses the timer, or a clock
  // already runs.
  bool start(Steinberg::FUnknown *context, std::function<void()> tick);
  // Unregisters the timer; after this the tick is never called again, even
  // by a host that keeps a reference to the timer object.
  void stop();
  bool running() const { return timer_ != nullptr; }

private:
  class Timer;
  Steinberg::Linux::IRunLoop *runLoop_ = nullptr;
  Timer *timer_ = nullptr;
};

} // namespace norva
