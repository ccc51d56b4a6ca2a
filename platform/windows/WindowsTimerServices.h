#pragma once

#include <cstdint>

#include "platform/SystemLibraryLoader.h"
#include "platform/TimerServices.h"

namespace argb::platform {

// The timer period functions come from winmm.dll, which is not among the libraries Windows maps
// from its own list: imported, a copy beside the program would be loaded in its place. So it is
// loaded through the trusted loading, and only on a system without high-resolution timers. The
// waits serve the thread's window messages while the write phase has a window (WindowMessages.h).
class WindowsTimerServices final : public TimerServices {
 public:
  void loadSystemLibrariesWith(SystemLibraryLoader& loader) { loader_ = &loader; }

  TimerHandle createHighResolutionTimer() override;
  bool waitTimer(TimerHandle timer, std::uint32_t milliseconds) override;
  void closeTimer(TimerHandle timer) override;
  bool beginTimerPeriod(std::uint32_t milliseconds) override;
  void endTimerPeriod(std::uint32_t milliseconds) override;
  void sleep(std::uint32_t milliseconds) override;

 private:
  bool resolvePeriodFunctions();

  SystemLibraryLoader* loader_ = nullptr;
  bool periodFunctionsSought_ = false;
  ProcAddress beginPeriod_ = nullptr;
  ProcAddress endPeriod_ = nullptr;
};

}  // namespace argb::platform
