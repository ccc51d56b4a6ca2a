#pragma once

#include "field-check/CheckResult.h"
#include "field-check/PauseRules.h"
#include "platform/PreciseSleeper.h"
#include "platform/SystemLibraryLoader.h"
#include "platform/windows/WindowsTimerServices.h"

namespace argb::fieldcheck {

// The updater's 1 ms pauses, made by its own sleeper (one for the whole run, as in the updater)
// and timed with the performance counter.
class PauseProbe {
 public:
  explicit PauseProbe(platform::SystemLibraryLoader& loader) {
    timers_.loadSystemLibrariesWith(loader);
  }
  CheckResult measure(PausePhase phase);

 private:
  // Declared first: the precise sleeper gives its timer back on destruction.
  platform::WindowsTimerServices timers_;
  platform::PreciseSleeper sleeper_{timers_};
};

}  // namespace argb::fieldcheck
