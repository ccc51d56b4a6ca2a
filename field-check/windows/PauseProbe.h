#pragma once

#include "platform/SystemLibraryLoader.h"
#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

// The updater's 1 ms pauses, made by its own sleeper and timed with the performance counter.
CheckResult measurePauses(platform::SystemLibraryLoader& loader);

}  // namespace argb::fieldcheck
