#include "platform/PreciseSleeper.h"

namespace argb::platform {

PreciseSleeper::PreciseSleeper(TimerServices& timers) : timers_(timers) {}

PreciseSleeper::~PreciseSleeper() {
  if (timer_ != nullptr) timers_.closeTimer(timer_);
  // The resolution is a system-wide setting that costs power; it must not outlive the run.
  if (periodRaised_) timers_.endTimerPeriod(kRaisedPeriodMs);
}

void PreciseSleeper::sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0 || milliseconds > kLongestShortPauseMs) {
    timers_.sleep(milliseconds);
    return;
  }
  // Decided at the first short pause, not before: a run that never needs one leaves the system's
  // timer alone.
  if (method_ == Method::kUndecided) {
    timer_ = timers_.createHighResolutionTimer();
    if (timer_ != nullptr) {
      method_ = Method::kHighResolutionTimer;
    } else {
      useRaisedPeriod();
    }
  }
  if (method_ == Method::kHighResolutionTimer) {
    if (timers_.waitTimer(timer_, milliseconds)) return;
    // A timer that failed once is not trusted again; this pause is made up by the fallback.
    timers_.closeTimer(timer_);
    timer_ = nullptr;
    useRaisedPeriod();
  }
  timers_.sleep(milliseconds);
}

void PreciseSleeper::useRaisedPeriod() {
  method_ = Method::kRaisedPeriod;
  // Refused, the plain sleep still pauses, only longer.
  periodRaised_ = timers_.beginTimerPeriod(kRaisedPeriodMs);
}

}  // namespace argb::platform
