#include "field-check/windows/PauseProbe.h"

#include "field-check/windows/DriverProbe.h"
#include "field-check/windows/WritePhaseProbe.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::fieldcheck {

CheckResult PauseProbe::measure(PausePhase phase) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  constexpr double kMsPerSecond = 1000.0;
  PauseMeasurement measured;
  measured.servingWindows = sessionEndWindowOpen();
  measured.driverLoaded = driverLoaded();
  measured.durationsMs.reserve(kPauseCount);
  for (std::size_t i = 0; i < kPauseCount; ++i) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    ::QueryPerformanceCounter(&start);
    sleeper_.sleep(kPauseMs);
    ::QueryPerformanceCounter(&end);
    measured.durationsMs.push_back(static_cast<double>(end.QuadPart - start.QuadPart) *
                                   kMsPerSecond / static_cast<double>(frequency.QuadPart));
  }
  measured.mechanism = sleeper_.method();
  return judgePauses(phase, measured);
}

}  // namespace argb::fieldcheck
