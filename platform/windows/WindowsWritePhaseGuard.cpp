#include "platform/windows/WindowsWritePhaseGuard.h"

#include "platform/ConsoleControlEvent.h"
#include "platform/ConsoleRestore.h"
#include "platform/windows/ConsoleDefaults.h"
#include "platform/windows/ConsoleInput.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

static_assert(kCtrlCEvent == CTRL_C_EVENT && kCtrlBreakEvent == CTRL_BREAK_EVENT &&
              kCloseEvent == CTRL_CLOSE_EVENT && kLogoffEvent == CTRL_LOGOFF_EVENT &&
              kShutdownEvent == CTRL_SHUTDOWN_EVENT);
static_assert(kInsertMode == ENABLE_INSERT_MODE && kQuickEditMode == ENABLE_QUICK_EDIT_MODE &&
              kExtendedFlags == ENABLE_EXTENDED_FLAGS && kMenuItemGrayed == MF_GRAYED &&
              kMenuItemDisabled == MF_DISABLED);

BOOL WINAPI swallowInterrupts(DWORD event) {
  // TRUE ends the handling; FALSE hands the event on to the default.
  return swallowedInWritePhase(event) ? TRUE : FALSE;
}

// EnableMenuItem on the Close item of `window`, or of the console's window where none is given.
// That is null where there is no console window of Windows' own (Windows Terminal, Wine, no
// console); the item is then missing.
auto closeItemOf(void* window) {
  const HWND owner = window != nullptr ? static_cast<HWND>(window) : ::GetConsoleWindow();
  return [menu = ::GetSystemMenu(owner, FALSE)](std::uint32_t state) -> std::int32_t {
    return menu == nullptr ? kMenuItemMissing
                           : ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | state);
  };
}

}  // namespace

void WindowsWritePhaseGuard::enterWritePhase() {
  ::SetConsoleCtrlHandler(swallowInterrupts, TRUE);
  ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  holdConsoleWindow();
  // Asked early, the hold's refusal and reason are in place before other programs are closed.
  DWORD level = 0;
  DWORD flags = 0;
  if (!shutdownLevelOnRelease_ && ::GetProcessShutdownParameters(&level, &flags) &&
      ::SetProcessShutdownParameters(kWritePhaseShutdownLevel, flags)) {
    shutdownLevelOnRelease_ = level;
    shutdownFlagsOnRelease_ = flags;
  }
  sessionEnd_.hold();
}

void WindowsWritePhaseGuard::updateEnded() {
  ::SetThreadExecutionState(ES_CONTINUOUS);
  releaseConsoleWindow();
  sessionEnd_.release();
  if (shutdownLevelOnRelease_) {
    ::SetProcessShutdownParameters(*shutdownLevelOnRelease_, shutdownFlagsOnRelease_);
    shutdownLevelOnRelease_.reset();
  }
}

void WindowsWritePhaseGuard::holdConsoleWindow() {
  // A click in a classic console window starts a selection in QuickEdit mode, and every write then
  // blocks until a key is pressed: the update would stop between two blocks and look hung.
  const ConsoleInput input;
  DWORD mode = 0;
  if (input.handle() != nullptr && ::GetConsoleMode(input.handle(), &mode) &&
      ::SetConsoleMode(input.handle(), (mode | ENABLE_EXTENDED_FLAGS) & ~ENABLE_QUICK_EDIT_MODE)) {
    inputModeOnRelease_ =
        inputModeToRestore(mode, [this] { return readConsoleEditDefaults(loader_); });
  }
  // Closing the window would end the process halfway through the flash.
  closeItem_.hold(closeItemOf(closeItemWindow_));
}

void WindowsWritePhaseGuard::releaseConsoleWindow() {
  if (inputModeOnRelease_) {
    const ConsoleInput input;
    if (input.handle() != nullptr) ::SetConsoleMode(input.handle(), *inputModeOnRelease_);
    inputModeOnRelease_.reset();
  }
  closeItem_.release(closeItemOf(closeItemWindow_));
}

}  // namespace argb::platform
