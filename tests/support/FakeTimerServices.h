#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/TimerServices.h"

namespace argb::testing {

// A recording stand-in for the timer calls: nothing waits. Every call is appended to `events`.
class FakeTimerServices : public platform::TimerServices {
 public:
  // --- configuration -----------------------------------------------------------------------
  bool highResolutionOffered = true;
  bool periodGranted = true;
  // Number of timer waits that succeed before every later one fails (negative: none fails).
  int waitsBeforeFailure = -1;

  // --- records -----------------------------------------------------------------------------
  // "create", "create refused", "wait 1", "wait 1 failed", "close", "begin 1", "begin 1 refused",
  // "end 1", "sleep 50"; a timer call on a handle this fake did not give out reads "foreign".
  std::vector<std::string> events;

  platform::TimerHandle createHighResolutionTimer() override;
  bool waitTimer(platform::TimerHandle timer, std::uint32_t milliseconds) override;
  void closeTimer(platform::TimerHandle timer) override;
  bool beginTimerPeriod(std::uint32_t milliseconds) override;
  void endTimerPeriod(std::uint32_t milliseconds) override;
  void sleep(std::uint32_t milliseconds) override;

 private:
  int timer_ = 0;  // its address is the one handle given out
};

}  // namespace argb::testing
