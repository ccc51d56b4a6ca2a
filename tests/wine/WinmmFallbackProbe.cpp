// Runs the updater's own timer fallback, as on a Windows without high-resolution timers: the
// product's precise sleeper, timer services and trusted loading, with only the timer refused.
// Prints whether the timer period was raised and where winmm.dll came from.
//
// Unlike the updater, it leaves the process-wide library search alone: restricted to system32, a
// bare-name load of winmm.dll would come from there too, and the probe could not tell the timer
// services' trusted loading from a careless one.

#include <windows.h>

#include <cstdio>

#include "driver/TrustedLibraryLoader.h"
#include "platform/PreciseSleeper.h"
#include "platform/windows/WindowsOsServices.h"
#include "platform/windows/WindowsTimerServices.h"

namespace {

using argb::platform::TimerHandle;

class WithoutHighResolutionTimer final : public argb::platform::TimerServices {
 public:
  explicit WithoutHighResolutionTimer(TimerServices& system) : system_(system) {}

  TimerHandle createHighResolutionTimer() override { return nullptr; }
  bool waitTimer(TimerHandle timer, std::uint32_t ms) override {
    return system_.waitTimer(timer, ms);
  }
  void closeTimer(TimerHandle timer) override { system_.closeTimer(timer); }
  bool beginTimerPeriod(std::uint32_t ms) override {
    periodRaised = system_.beginTimerPeriod(ms);
    return periodRaised;
  }
  void endTimerPeriod(std::uint32_t ms) override { system_.endTimerPeriod(ms); }
  void sleep(std::uint32_t ms) override { system_.sleep(ms); }

  bool periodRaised = false;

 private:
  TimerServices& system_;
};

}  // namespace

int main() {
  argb::platform::WindowsOsServices os;
  argb::driver::TrustedLibraryLoader loader(os);
  argb::platform::WindowsTimerServices timers;
  timers.loadSystemLibrariesWith(loader);
  WithoutHighResolutionTimer withoutTimer(timers);
  argb::platform::PreciseSleeper(withoutTimer).sleep(1);
  wchar_t path[MAX_PATH] = L"not loaded";
  if (const HMODULE winmm = GetModuleHandleW(L"winmm.dll"))
    GetModuleFileNameW(winmm, path, MAX_PATH);
  std::printf("period raised: %s\n%ls\n", withoutTimer.periodRaised ? "yes" : "no", path);
  return 0;
}
