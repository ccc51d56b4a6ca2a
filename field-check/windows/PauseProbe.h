#pragma once

#include "field-check/CheckResult.h"
#include "platform/SystemLibraryLoader.h"

namespace argb::fieldcheck {

// The updater's 1 ms pauses, made by its own sleeper and timed with the performance counter.
CheckResult measurePauses(platform::SystemLibraryLoader& loader);

}  // namespace argb::fieldcheck
