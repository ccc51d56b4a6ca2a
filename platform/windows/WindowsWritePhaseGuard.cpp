#include "platform/windows/WindowsWritePhaseGuard.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

BOOL WINAPI swallowInterrupts(DWORD event) {
  // TRUE ends the handling; the other events (close, log-off, shutdown) go on to the default.
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

}  // namespace

void WindowsWritePhaseGuard::enterWritePhase() {
  ::SetConsoleCtrlHandler(swallowInterrupts, TRUE);
  ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

void WindowsWritePhaseGuard::updateEnded() {
  ::SetThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace argb::platform
