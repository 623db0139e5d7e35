#include "controller/cadence_clock.h"

#include <utility>

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
    if (tick_) tick_();
  }
  void forget() { tick_ = nullptr; }

  OBJ_METHODS(CadenceClock::Timer, FObject)
  DEF_INTERFACES_1(Linux::ITimerHandler, FObject)
  REFCOUNT_METHODS(FObject)

private:
  std::function<void()> tick_;
};

bool CadenceClock::start(FUnknown *context, std::function<void()> tick) {
  if (running() || context == nullptr || !tick) return false;
  Linux::IRunLoop *runLoop = nullptr;
  if (context->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void **>(&runLoop)) != kResultOk ||
      runLoop == nullptr) {
    return false;
  }
  auto *timer = new Timer(std::move(tick));
  if (runLoop->registerTimer(timer, kCadenceIntervalMs) != kResultOk) {
    timer->release();
    runLoop->release();
    return false;
  }
  runLoop_ = runLoop;
  timer_ = timer;
  return true;
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

} // namespace norva
