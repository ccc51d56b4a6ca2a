#pragma once

#include "field-check/CheckResult.h"
#include "platform/SystemLibraryLoader.h"

namespace argb::fieldcheck {

// Enters the write phase and ends it through the updater's own guard, reading from the system
// before, during and after what the guard changed: QuickEdit, the Close item, the session-end block
// and the execution state. The guard reads the console's defaults through `loader`, as in the
// updater.
Report checkWritePhase(platform::SystemLibraryLoader& loader);

}  // namespace argb::fieldcheck
