#pragma once

#include <cstdint>

#include "platform/Sleeper.h"
#include "platform/TimerServices.h"

namespace argb::platform {

// Pauses shorter than a tick of the system timer (15.6 ms by default on Windows) that last about
// as long as asked: a plain sleep would round each one up to the next tick.
//
// The first short pause creates a high-resolution timer, which every short pause then reuses.
// Where the system offers none, or the timer stops working, the timer resolution is raised to
// 1 ms for the rest of the run and short pauses become plain sleeps. Longer pauses are always
// plain sleeps: a tick more or less hardly matters to them.
class PreciseSleeper final : public Sleeper {
 public:
  explicit PreciseSleeper(TimerServices& timers);
  // Closes the timer, and lowers the timer resolution again if it was raised.
  ~PreciseSleeper() override;

  PreciseSleeper(const PreciseSleeper&) = delete;
  PreciseSleeper& operator=(const PreciseSleeper&) = delete;

  void sleep(std::uint32_t milliseconds) override;

  // How short pauses are made: decided at the first one, and the fallback once the timer failed.
  enum class Method { kUndecided, kHighResolutionTimer, kRaisedPeriod };
  Method method() const { return method_; }

  // Pauses from 1 ms up to this take the precise way.
  static constexpr std::uint32_t kLongestShortPauseMs = 15;
  // The timer resolution asked for when no high-resolution timer is at hand.
  static constexpr std::uint32_t kRaisedPeriodMs = 1;

 private:
  void useRaisedPeriod();

  TimerServices& timers_;
  Method method_ = Method::kUndecided;
  TimerHandle timer_ = nullptr;
  bool periodRaised_ = false;
};

}  // namespace argb::platform
