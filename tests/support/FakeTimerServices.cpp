#include "tests/support/FakeTimerServices.h"

namespace argb::testing {

platform::TimerHandle FakeTimerServices::createHighResolutionTimer() {
  events.push_back(highResolutionOffered ? "create" : "create refused");
  return highResolutionOffered ? &timer_ : nullptr;
}

bool FakeTimerServices::waitTimer(platform::TimerHandle timer, std::uint32_t milliseconds) {
  if (timer != &timer_) {
    events.push_back("foreign");
    return false;
  }
  const bool fails = waitsBeforeFailure == 0;
  if (waitsBeforeFailure > 0) --waitsBeforeFailure;
  events.push_back("wait " + std::to_string(milliseconds) + (fails ? " failed" : ""));
  return !fails;
}

void FakeTimerServices::closeTimer(platform::TimerHandle timer) {
  events.push_back(timer == &timer_ ? "close" : "foreign");
}

bool FakeTimerServices::beginTimerPeriod(std::uint32_t milliseconds) {
  events.push_back("begin " + std::to_string(milliseconds) + (periodGranted ? "" : " refused"));
  return periodGranted;
}

void FakeTimerServices::endTimerPeriod(std::uint32_t milliseconds) {
  events.push_back("end " + std::to_string(milliseconds));
}

void FakeTimerServices::sleep(std::uint32_t milliseconds) {
  events.push_back("sleep " + std::to_string(milliseconds));
}

}  // namespace argb::testing
