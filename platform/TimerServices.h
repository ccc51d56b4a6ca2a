#pragma once

#include <cstdint>

namespace argb::platform {

// Opaque handle of a waitable timer (HANDLE on Windows).
using TimerHandle = void*;

// SetWaitableTimer's due time for a pause of `milliseconds` from now: it counts 100 ns units, and
// a negative one is relative to now.
constexpr std::int64_t relativeDueTime(std::uint32_t milliseconds) {
  constexpr std::int64_t kUnitsPerMs = 10000;
  return -kUnitsPerMs * milliseconds;
}

// The timer calls a precise pause is built from, with the contracts of their Windows counterparts
// (named in each comment).
class TimerServices {
 public:
  virtual ~TimerServices() = default;

  // CreateWaitableTimerExW with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION. Null where the system
  // refuses the flag (before Windows 10 1803).
  virtual TimerHandle createHighResolutionTimer() = 0;
  // SetWaitableTimer with a relative due time, then WaitForSingleObject until it fires. False when
  // either call fails or the timer has not fired long after its time; the pause may then have
  // been cut short.
  virtual bool waitTimer(TimerHandle timer, std::uint32_t milliseconds) = 0;
  // CloseHandle.
  virtual void closeTimer(TimerHandle timer) = 0;

  // timeBeginPeriod: true when the system timer now ticks at least every `milliseconds`.
  virtual bool beginTimerPeriod(std::uint32_t milliseconds) = 0;
  // timeEndPeriod, once for each successful beginTimerPeriod.
  virtual void endTimerPeriod(std::uint32_t milliseconds) = 0;

  // Sleep: returns at the first tick of the system timer after the time has passed.
  virtual void sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace argb::platform
