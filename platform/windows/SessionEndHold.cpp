#include "platform/windows/SessionEndHold.h"

#include "platform/windows/WindowMessages.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

constexpr wchar_t kWindowTitle[] = L"Corvix ARGB FW updater";
constexpr wchar_t kReason[] = L"Firmware update in progress. Keep the computer on.";

LRESULT CALLBACK refuseSessionEnd(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // FALSE: not now. Windows then shows the reason and lets the user wait or end the session anyway.
  if (message == WM_QUERYENDSESSION) return FALSE;
  // A close request (taskkill without /f) would otherwise destroy the window and the hold with it.
  if (message == WM_CLOSE) return 0;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void SessionEndHold::hold() {
  if (window_ != nullptr) return;
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = refuseSessionEnd;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kSessionEndWindowClass;
  if (::RegisterClassExW(&windowClass) == 0) return;
  // Top-level: a message-only window would not be asked.
  const HWND window = ::CreateWindowExW(0, kSessionEndWindowClass, kWindowTitle, WS_OVERLAPPED,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                        nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    ::UnregisterClassW(kSessionEndWindowClass, instance);
    return;
  }
  window_ = window;
  windowToServeOpened();
  // Refused (Wine's stub always refuses), the window still answers FALSE, but Windows takes a
  // window that is never shown and gives no reason for one that cannot block: the session may then
  // end without the user being asked, and the next run recovers the controller.
  ::ShutdownBlockReasonCreate(window, kReason);
}

void SessionEndHold::release() {
  if (window_ == nullptr) return;
  const HWND window = static_cast<HWND>(window_);
  ::ShutdownBlockReasonDestroy(window);
  ::DestroyWindow(window);
  ::UnregisterClassW(kSessionEndWindowClass, ::GetModuleHandleW(nullptr));
  windowToServeClosed();
  window_ = nullptr;
}

}  // namespace argb::platform
