#pragma once

#include <cstdint>
#include <optional>

#include "field-check/CheckResult.h"
#include "field-check/ConsoleRules.h"
#include "platform/Console.h"

namespace argb::fieldcheck {

// One key press, read as the updater reads keys, or nullopt when none came within the time
// (nullopt: no limit, unless the console has no input to wait on). The wait serves the thread's
// windows while the write phase has one.
std::optional<KeyRead> readKeyWithin(platform::Console& console,
                                     std::optional<std::uint32_t> milliseconds);

// The output code page and a system error text as the updater would show it.
CheckResult checkCodePage();
// Asks for an arrow key, then for 'à', each read as the updater reads keys; a key not pressed
// within the wait leaves its check, and those after it, not applicable.
Report checkKeys(platform::Console& console);

}  // namespace argb::fieldcheck
