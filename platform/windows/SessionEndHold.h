#pragma once

namespace argb::platform {

// The session-end window's class: the thread may have other windows (Windows' default IME window,
// a driver's), listed in any order, and this is how the window is told from them.
inline constexpr wchar_t kSessionEndWindowClass[] = L"argb-fw-updater-session-end";

// Holds off the end of the session (shutdown, restart, logoff) while it is held. Windows asks
// every top-level window before the session ends; this one, never shown, refuses, and carries the
// reason that Windows shows the user beside the program. It belongs to the thread that holds it,
// whose waits serve its messages meanwhile (WindowMessages.h).
class SessionEndHold {
 public:
  SessionEndHold() = default;
  SessionEndHold(const SessionEndHold&) = delete;
  SessionEndHold& operator=(const SessionEndHold&) = delete;

  // Opens the window and gives the reason; a window that cannot be made (no desktop) or a reason
  // that is refused leaves the run as it was.
  void hold();
  void release();

 private:
  void* window_ = nullptr;
};

}  // namespace argb::platform
