#include "host_run_loop.h"

#include <algorithm>
#include <cerrno>

namespace norva::probe {

using namespace Steinberg;

HostRunLoop::~HostRunLoop() {
  relay_.reset();
  for (Handler &entry : handlers_) entry.handler->release();
  for (Timer &entry : timers_) entry.handler->release();
}

tresult HostRunLoop::registerEventHandler(Linux::IEventHandler *handler, int fd) {
  if (handler == nullptr || fd < 0) return kInvalidArgument;
  if (relay_ != nullptr) relay_->tap(fd);
  handler->addRef();
  handlers_.push_back({handler, fd, nextSerial_++});
  return kResultOk;
}

tresult HostRunLoop::unregisterEventHandler(Linux::IEventHandler *handler) {
  const auto found = std::find_if(handlers_.begin(), handlers_.end(),
                                  [&](const Handler &entry) { return entry.handler == handler; });
  if (found == handlers_.end()) return kResultFalse;
  handlers_.erase(found);
  handler->release();
  return kResultOk;
}

tresult HostRunLoop::registerTimer(Linux::ITimerHandler *handler, uint64 milliseconds) {
  if (handler == nullptr || milliseconds == 0) return kInvalidArgument;
  handler->addRef();
  const Clock::duration interval = std::chrono::milliseconds(milliseconds);
  timers_.push_back({handler, interval, Clock::now() + interval, nextSerial_++});
  return kResultOk;
}

tresult HostRunLoop::unregisterTimer(Linux::ITimerHandler *handler) {
  const auto found =
      std::find_if(timers_.begin(), timers_.end(), [&](const Timer &entry) { return entry.handler == handler; });
  if (found == timers_.end()) return kResultFalse;
  timers_.erase(found);
  handler->release();
  return kResultOk;
}

void HostRunLoop::runOnce(int waitMs, std::vector<pollfd> &own) {
  std::vector<pollfd> watched;
  std::vector<uint64_t> serials;
  for (const Handler &entry : handlers_) {
    watched.push_back({entry.fd, POLLIN, 0});
    serials.push_back(entry.serial);
  }
  const size_t handlerCount = watched.size();
  watched.insert(watched.end(), own.begin(), own.end());

  const Clock::time_point now = Clock::now();
  Clock::time_point until = now + std::chrono::milliseconds(std::max(waitMs, 0));
  for (const Timer &entry : timers_) until = std::min(until, entry.due);
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
  if (::poll(watched.data(), watched.size(), wait > 0 ? int(wait) : 0) < 0 && errno != EINTR) return;
  for (size_t i = 0; i < own.size(); ++i) own[i].revents = watched[handlerCount + i].revents;

  for (size_t i = 0; i < handlerCount; ++i) {
    if (watched[i].revents == 0) continue;
    // Still registered? A call before this one may have unregistered it.
    const auto found = std::find_if(handlers_.begin(), handlers_.end(),
                                    [&](const Handler &entry) { return entry.serial == serials[i]; });
    if (found == handlers_.end()) continue;
    Linux::IEventHandler *handler = found->handler;
    const int fd = found->fd;
    handler->addRef();
    handler->onFDIsSet(fd);
    handler->release();
  }

  std::vector<uint64_t> due;
  const Clock::time_point at = Clock::now();
  for (const Timer &entry : timers_) {
    if (entry.due <= at) due.push_back(entry.serial);
  }
  for (const uint64_t serial : due) {
    const auto found =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer &entry) { return entry.serial == serial; });
    if (found == timers_.end()) continue;
    // Like the run loops of hosts: ticks missed while busy are not made up.
    found->due += found->interval;
    if (found->due <= at) found->due = at + found->interval;
    Linux::ITimerHandler *handler = found->handler;
    handler->addRef();
    handler->onTimer();
    handler->release();
  }
}

} // namespace norva::probe
