#include "platform/windows/WindowsTimerServices.h"

#include "platform/windows/WindowsHeaders.h"

// After <windows.h>, which the lean build keeps from including the multimedia timer functions.
#include <timeapi.h>

namespace argb::platform {

namespace {

// Windows 10 1803 and later; older SDK headers lack the name.
constexpr DWORD kCreateWaitableTimerHighResolution = 0x2;
// Due times count 100 ns units; negative ones are relative to now.
constexpr LONGLONG kRelativeUnitsPerMs = -10000;
// A timer that has not fired this long after its due time counts as failed, so that a broken
// timer cannot hang an update halfway through the flash.
constexpr DWORD kWaitLimitBeyondDueMs = 1000;

}  // namespace

TimerHandle WindowsTimerServices::createHighResolutionTimer() {
  return ::CreateWaitableTimerExW(nullptr, nullptr, kCreateWaitableTimerHighResolution,
                                  TIMER_MODIFY_STATE | SYNCHRONIZE);
}

bool WindowsTimerServices::waitTimer(TimerHandle timer, std::uint32_t milliseconds) {
  LARGE_INTEGER dueTime;
  dueTime.QuadPart = kRelativeUnitsPerMs * milliseconds;
  if (!::SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, FALSE)) return false;
  return ::WaitForSingleObject(timer, milliseconds + kWaitLimitBeyondDueMs) == WAIT_OBJECT_0;
}

void WindowsTimerServices::closeTimer(TimerHandle timer) {
  ::CloseHandle(timer);
}

bool WindowsTimerServices::beginTimerPeriod(std::uint32_t milliseconds) {
  return ::timeBeginPeriod(milliseconds) == TIMERR_NOERROR;
}

void WindowsTimerServices::endTimerPeriod(std::uint32_t milliseconds) {
  ::timeEndPeriod(milliseconds);
}

void WindowsTimerServices::sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace argb::platform
