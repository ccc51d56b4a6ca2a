#pragma once

#include "platform/PreciseSleeper.h"
#include "platform/Sleeper.h"
#include "platform/windows/WindowsTimerServices.h"

namespace argb::platform {

// Sleep alone would stretch every 1 ms pause to the next tick of the system timer (15.6 ms by
// default), and each unacknowledged poll of an update pauses 1 ms.
class WindowsSleeper final : public Sleeper {
 public:
  void sleep(std::uint32_t milliseconds) override;
  void loadSystemLibrariesWith(SystemLibraryLoader& loader) {
    timers_.loadSystemLibrariesWith(loader);
  }

 private:
  // Declared first: the precise sleeper gives its timer back on destruction.
  WindowsTimerServices timers_;
  PreciseSleeper precise_{timers_};
};

}  // namespace argb::platform
