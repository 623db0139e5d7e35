// The probe's Linux run loop (Steinberg::Linux::IRunLoop), as a host offers
// one with its plug frame: descriptor handlers called when their descriptor
// is readable, repeating timers, one thread, one poll. Handlers and timers
// may be registered and unregistered from inside their own calls. Sockets
// registered here can be tapped (socket_relay.h).
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "socket_relay.h"
#include "vst3/abi/iplugview.h"

namespace norva::probe {

class HostRunLoop {
public:
  using Clock = std::chrono::steady_clock;

  HostRunLoop() = default;
  ~HostRunLoop();
  HostRunLoop(const HostRunLoop &) = delete;
  HostRunLoop &operator=(const HostRunLoop &) = delete;

  Steinberg::tresult registerEventHandler(Steinberg::Linux::IEventHandler *handler, int fd);
  Steinberg::tresult unregisterEventHandler(Steinberg::Linux::IEventHandler *handler);
  Steinberg::tresult registerTimer(Steinberg::Linux::ITimerHandler *handler, Steinberg::uint64 milliseconds);
  Steinberg::tresult unregisterTimer(Steinberg::Linux::ITimerHandler *handler);

  // From now on every socket registered is tapped, its frames passed to
  // observer (on the relay's thread).
  void tapSockets(SocketRelay::Observer observer) { relay_ = std::make_unique<SocketRelay>(std::move(observer)); }

  // Waits at most waitMs (less when a timer falls due) for the handlers'
  // descriptors and the caller's own (own[i].revents is filled), then calls
  // the handlers whose descriptor is readable and the timers that are due.
  void runOnce(int waitMs, std::vector<pollfd> &own);

  size_t handlerCount() const { return handlers_.size(); }
  size_t timerCount() const { return timers_.size(); }

private:
  struct Handler {
    Steinberg::Linux::IEventHandler *handler;
    int fd;
    uint64_t serial;
  };
  struct Timer {
    Steinberg::Linux::ITimerHandler *handler;
    Clock::duration interval;
    Clock::time_point due;
    uint64_t serial;
  };

  std::vector<Handler> handlers_;
  std::vector<Timer> timers_;
  uint64_t nextSerial_ = 1;
  // Last: the relay stops before the handlers go.
  std::unique_ptr<SocketRelay> relay_;
};

} // namespace norva::probe
