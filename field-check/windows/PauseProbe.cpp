#include "field-check/windows/PauseProbe.h"

#include <vector>

#include "field-check/PauseRules.h"
#include "platform/PreciseSleeper.h"
#include "platform/windows/WindowsHeaders.h"
#include "platform/windows/WindowsTimerServices.h"

namespace argb::fieldcheck {

CheckResult measurePauses(platform::SystemLibraryLoader& loader) {
  platform::WindowsTimerServices timers;
  timers.loadSystemLibrariesWith(loader);
  platform::PreciseSleeper sleeper(timers);
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  constexpr double kMsPerSecond = 1000.0;
  std::vector<double> durations;
  durations.reserve(kPauseCount);
  for (std::size_t i = 0; i < kPauseCount; ++i) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    sleeper.sleep(kPauseMs);
    ::QueryPerformanceCounter(&end);
    durations.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * kMsPerSecond /
                        static_cast<double>(frequency.QuadPart));
  }
  return judgePauses(durations, sleeper.method());
}

}  // namespace argb::fieldcheck
