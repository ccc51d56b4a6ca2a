#pragma once

#include "field-check/CheckResult.h"
#include "field-check/windows/PauseProbe.h"
#include "platform/Console.h"
#include "platform/SystemLibraryLoader.h"

namespace argb::fieldcheck {

// Enters the write phase and ends it through the updater's own guard, reading from the system
// before, during and after what the guard changed: QuickEdit, the Close item, the session-end
// block, the execution state and the shutdown level; inside it, the 1 ms pauses as an update makes
// them. The guard reads the console's defaults through `loader`, as in the updater.
Report checkWritePhase(platform::SystemLibraryLoader& loader, PauseProbe& pauses);

// Asks for R; then holds the write phase until a key while the user tries a real restart,
// counts the end-of-session queries the session-end window (found by its class) received and its
// answers, and asks whether Windows showed the reason and let the user cancel.
CheckResult checkRestart(platform::Console& console, platform::SystemLibraryLoader& loader);

// The updater's session-end window is open on this thread (in the write phase).
bool sessionEndWindowOpen();

}  // namespace argb::fieldcheck
