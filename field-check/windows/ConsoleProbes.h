#pragma once

#include "field-check/CheckResult.h"
#include "platform/Console.h"

namespace argb::fieldcheck {

// The output code page and a system error text as the updater would show it.
CheckResult checkCodePage();
// Asks for an arrow key, then for 'à', each read as the updater reads keys; a key not pressed
// within the wait leaves its check, and those after it, not applicable.
Report checkKeys(platform::Console& console);

}  // namespace argb::fieldcheck
