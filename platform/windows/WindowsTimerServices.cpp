#include "platform/windows/WindowsTimerServices.h"

#include "platform/windows/WindowMessages.h"
#include "platform/windows/WindowsHeaders.h"

// After <windows.h>, which the lean build keeps from including the multimedia timer names.
#include <timeapi.h>

namespace argb::platform {

namespace {

// Windows 10 1803 and later; older SDK headers lack the name.
constexpr DWORD kCreateWaitableTimerHighResolution = 0x2;
// A timer that has not fired this long after its due time counts as failed, so that a broken
// timer cannot hang an update halfway through the flash.
constexpr DWORD kWaitLimitBeyondDueMs = 1000;
constexpr char16_t kTimerLibrary[] = u"winmm.dll";
// Declared, never imported.
using PeriodFunction = decltype(&::timeBeginPeriod);

}  // namespace

TimerHandle WindowsTimerServices::createHighResolutionTimer() {
  return ::CreateWaitableTimerExW(nullptr, nullptr, kCreateWaitableTimerHighResolution,
                                  TIMER_MODIFY_STATE | SYNCHRONIZE);
}

bool WindowsTimerServices::waitTimer(TimerHandle timer, std::uint32_t milliseconds) {
  LARGE_INTEGER dueTime;
  dueTime.QuadPart = relativeDueTime(milliseconds);
  if (!::SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, FALSE)) return false;
  return waitServingWindows(timer, milliseconds + kWaitLimitBeyondDueMs) == WAIT_OBJECT_0;
}

void WindowsTimerServices::closeTimer(TimerHandle timer) {
  ::CloseHandle(timer);
}

bool WindowsTimerServices::resolvePeriodFunctions() {
  if (periodFunctionsSought_) return beginPeriod_ != nullptr && endPeriod_ != nullptr;
  periodFunctionsSought_ = true;
  if (loader_ == nullptr) return false;
  const auto winmm = static_cast<HMODULE>(loader_->loadSystemLibrary(kTimerLibrary));
  if (winmm == nullptr) return false;
  // Never freed: the period it raises is given back when the program ends.
  beginPeriod_ = reinterpret_cast<ProcAddress>(::GetProcAddress(winmm, "timeBeginPeriod"));
  endPeriod_ = reinterpret_cast<ProcAddress>(::GetProcAddress(winmm, "timeEndPeriod"));
  return beginPeriod_ != nullptr && endPeriod_ != nullptr;
}

bool WindowsTimerServices::beginTimerPeriod(std::uint32_t milliseconds) {
  // Without the library the pauses are plain sleeps: longer, and the update goes on.
  if (!resolvePeriodFunctions()) return false;
  return reinterpret_cast<PeriodFunction>(beginPeriod_)(milliseconds) == TIMERR_NOERROR;
}

void WindowsTimerServices::endTimerPeriod(std::uint32_t milliseconds) {
  if (endPeriod_ != nullptr) reinterpret_cast<PeriodFunction>(endPeriod_)(milliseconds);
}

void WindowsTimerServices::sleep(std::uint32_t milliseconds) {
  sleepServingWindows(milliseconds);
}

}  // namespace argb::platform
