// The updater's write-phase guard on the Close item of a window of the probe's own, as Wine gives
// the console none: for the item found enabled, greyed, disabled and both, prints its state
// (GetMenuState) before, during and after the write phase.

#include <cstdio>

#include "platform/windows/WindowsHeaders.h"
#include "platform/windows/WindowsWritePhaseGuard.h"

int main() {
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
  const HMENU menu = ::GetSystemMenu(window, FALSE);
  if (menu == nullptr) return 1;
  const auto state = [menu] { return ::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND); };
  for (const UINT found : {MF_ENABLED, MF_GRAYED, MF_DISABLED, MF_GRAYED | MF_DISABLED}) {
    ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | found);
    argb::platform::WindowsWritePhaseGuard guard;
    guard.holdCloseItemOf(window);
    const UINT before = state();
    guard.enterWritePhase();
    const UINT during = state();
    guard.updateEnded();
    std::printf("%x %x %x\n", before, during, state());
  }
  return 0;
}
