// Cadence clocks: repeating timers on the host's run loop (the Linux
// IRunLoop a host offers through its context or an editor's plug frame),
// calling one function on the host's user-interface thread. A host without a
// run loop gets no clock; the editor's view keeps its own timer.
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
// The longest interval a clock accepts (a day); 0 and anything longer are
// refused rather than turned into a timer that never or always fires.
inline constexpr double kCadenceMaxIntervalSeconds = 86400.0;

class CadenceClock {
public:
  CadenceClock() = default;
  ~CadenceClock() { stop(); }
  CadenceClock(const CadenceClock &) = delete;
  CadenceClock &operator=(const CadenceClock &) = delete;

  // Registers a timer of intervalMs (at least 1) on runLoop; false (and no
  // clock) without a run loop or tick, when it refuses the timer, or when a
  // clock already runs.
  bool start(Steinberg::Linux::IRunLoop *runLoop, Steinberg::uint64 intervalMs, std::function<void()> tick);
  // The same on the run loop that context answers with.
  bool start(Steinberg::FUnknown *context, Steinberg::uint64 intervalMs, std::function<void()> tick);
  // Unregisters the timer; after this the tick is never called again, even
  // by a host that keeps a reference to the timer object.
  void stop();
  bool running() const { return timer_ != nullptr; }

private:
  class Timer;
  Steinberg::Linux::IRunLoop *runLoop_ = nullptr;
  Timer *timer_ = nullptr;
};

// The run loops hosts have offered, newest last: a controller offers the
// one of its host context while it is initialised, an editor view the one
// of its plug frame while attached. Clocks started without a context
// (norvaStartCadenceClock) go on the newest one still offered. Owners are
// only compared; offering a context without a run loop does nothing.
void offerHostRunLoop(const void *owner, Steinberg::FUnknown *context);
void withdrawHostRunLoop(const void *owner);
// The newest run loop still offered, with a reference the caller releases;
// null when there is none.
Steinberg::Linux::IRunLoop *currentHostRunLoop();

// The whole milliseconds a clock of seconds waits (rounded, at least 1); 0
// for an interval that is not a finite number above 0 and at most
// kCadenceMaxIntervalSeconds.
Steinberg::uint64 cadenceIntervalMs(double seconds);

} // namespace norva
