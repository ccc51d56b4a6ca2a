#pragma once

#include <cstdint>
#include <optional>

#include "platform/ConsoleRestore.h"
#include "platform/SystemLibraryLoader.h"
#include "platform/WritePhaseGuard.h"
#include "platform/windows/SessionEndHold.h"

namespace argb::platform {

// From the confirming answer on, Ctrl+C and Ctrl+Break are swallowed, the system is kept from
// sleeping and the session's end (shutdown, restart, logoff) is held off until the update has
// ended. In a console window of Windows' own, QuickEdit is off and the window's Close item greyed
// out until then; both go back as they were found. Closing the window some other way, a forced
// power-off, the sleep button or a laptop's lid cannot be held off.
class WindowsWritePhaseGuard final : public WritePhaseGuard {
 public:
  // The console's registry defaults come from advapi32, loaded through this; without it the
  // console's own defaults count.
  void loadSystemLibrariesWith(SystemLibraryLoader& loader) { loader_ = &loader; }
  // The window (HWND) whose Close item is held instead of the console's own: a window of the
  // caller's where the console has none to read back (Wine).
  void holdCloseItemOf(void* window) { closeItemWindow_ = window; }

  void enterWritePhase() override;
  void updateEnded() override;

 private:
  void holdConsoleWindow();
  void releaseConsoleWindow();

  SystemLibraryLoader* loader_ = nullptr;
  void* closeItemWindow_ = nullptr;
  // The shutdown level and flags the process had before the write phase, given back after it.
  std::optional<std::uint32_t> shutdownLevelOnRelease_;
  std::uint32_t shutdownFlagsOnRelease_ = 0;
  // Set while the console holds what the write phase changed.
  std::optional<std::uint32_t> inputModeOnRelease_;
  CloseItemHold closeItem_;
  SessionEndHold sessionEnd_;
};

}  // namespace argb::platform
