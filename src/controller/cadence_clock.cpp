#include "controller/cadence_clock.h"

#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

#include "vst3/abi/iplugview.h"
#include "vst3/sdk/fobject.h"

namespace norva {

using namespace Steinberg;

// The run loop's timer object. The host may hold references to it beyond
// stop(), so it lives by its reference count and forgets the tick on stop.
class CadenceClock::Timer final : public FObject, public Linux::ITimerHandler {
public:
  explicit Timer(std::function<void()> tick) : tick_(std::move(tick)) {}

  void PLUGIN_API onTimer() override {
    // A copy: the tick may stop its own clock, which forgets tick_.
    if (const std::function<void()> tick = tick_) tick();
  }
  void forget() { tick_ = nullptr; }

  OBJ_METHODS(CadenceClock::Timer, FObject)
  DEF_INTERFACES_1(Linux::ITimerHandler, FObject)
  REFCOUNT_METHODS(FObject)

private:
  std::function<void()> tick_;
};

namespace {

Linux::IRunLoop *runLoopOf(FUnknown *context) {
  if (context == nullptr) return nullptr;
  Linux::IRunLoop *runLoop = nullptr;
  if (context->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void **>(&runLoop)) != kResultOk) return nullptr;
  return runLoop;
}

// Offers come from the host's user-interface thread, but a host may make
// instances on more than one thread: the list is locked. No audio thread
// comes here.
struct OfferedRunLoops {
  std::mutex lock;
  std::vector<std::pair<const void *, Linux::IRunLoop *>> offers;
};

OfferedRunLoops &offeredRunLoops() {
  static OfferedRunLoops offered;
  return offered;
}

} // namespace

bool CadenceClock::start(Linux::IRunLoop *runLoop, uint64 intervalMs, std::function<void()> tick) {
  if (running() || runLoop == nullptr || !tick) return false;
  auto *timer = new Timer(std::move(tick));
  if (runLoop->registerTimer(timer, intervalMs > 0 ? intervalMs : 1) != kResultOk) {
    timer->release();
    return false;
  }
  runLoop->addRef();
  runLoop_ = runLoop;
  timer_ = timer;
  return true;
}

bool CadenceClock::start(FUnknown *context, uint64 intervalMs, std::function<void()> tick) {
  Linux::IRunLoop *runLoop = runLoopOf(context);
  const bool started = start(runLoop, intervalMs, std::move(tick));
  if (runLoop != nullptr) runLoop->release();
  return started;
}

void CadenceClock::stop() {
  if (timer_ == nullptr) return;
  timer_->forget();
  runLoop_->unregisterTimer(timer_);
  timer_->release();
  runLoop_->release();
  timer_ = nullptr;
  runLoop_ = nullptr;
}

void offerHostRunLoop(const void *owner, FUnknown *context) {
  Linux::IRunLoop *runLoop = runLoopOf(context);
  if (runLoop == nullptr) return;
  OfferedRunLoops &offered = offeredRunLoops();
  const std::lock_guard guard(offered.lock);
  offered.offers.emplace_back(owner, runLoop);
}

void withdrawHostRunLoop(const void *owner) {
  std::vector<Linux::IRunLoop *> released;
  {
    OfferedRunLoops &offered = offeredRunLoops();
    const std::lock_guard guard(offered.lock);
    std::erase_if(offered.offers, [&](const auto &offer) {
      if (offer.first != owner) return false;
      released.push_back(offer.second);
      return true;
    });
  }
  // Released outside the lock: a host's release may call back into us.
  for (Linux::IRunLoop *runLoop : released) runLoop->release();
}

Linux::IRunLoop *currentHostRunLoop() {
  OfferedRunLoops &offered = offeredRunLoops();
  const std::lock_guard guard(offered.lock);
  if (offered.offers.empty()) return nullptr;
  Linux::IRunLoop *runLoop = offered.offers.back().second;
  runLoop->addRef();
  return runLoop;
}

uint64 cadenceIntervalMs(double seconds) {
  if (!(seconds > 0.0) || !(seconds <= kCadenceMaxIntervalSeconds)) return 0;
  const double ms = std::round(seconds * 1000.0);
  return ms < 1.0 ? 1 : static_cast<uint64>(ms);
}

} // namespace norva
