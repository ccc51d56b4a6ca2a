#pragma once

#include "platform/ConsoleRestore.h"
#include "platform/SystemLibraryLoader.h"

namespace argb::platform {

// The user's defaults for every console window (HKCU\Console, QuickEdit and InsertMode). The
// registry functions come from advapi32, loaded through `loader`: imported, a copy beside the
// program could be loaded in its place. Without the loader or the library, and for a value that
// is absent, the console's own default counts: on.
ConsoleEditDefaults readConsoleEditDefaults(SystemLibraryLoader* loader);

}  // namespace argb::platform
