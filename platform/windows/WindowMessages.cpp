#include "platform/windows/WindowMessages.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

// Per thread, as Windows keeps a window's messages.
thread_local int windowsToServe = 0;

void serveMessages() {
  MSG message;
  // Sent messages (WM_QUERYENDSESSION among them) are answered inside PeekMessage itself.
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

// Waits for the objects (none or one), the time limit or a message; after a message, on for what
// is left of the time. Answers as WaitForSingleObject does.
DWORD waitOrServe(DWORD count, const HANDLE* objects, DWORD milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD woken =
        ::MsgWaitForMultipleObjectsEx(count, objects, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken != WAIT_OBJECT_0 + count) return woken;
    serveMessages();
  }
}

}  // namespace

void windowToServeOpened() {
  ++windowsToServe;
}

void windowToServeClosed() {
  --windowsToServe;
}

std::uint32_t waitServingWindows(void* object, std::uint32_t milliseconds) {
  if (windowsToServe == 0) return ::WaitForSingleObject(object, milliseconds);
  const HANDLE objects[] = {object};
  return waitOrServe(1, objects, milliseconds);
}

void sleepServingWindows(std::uint32_t milliseconds) {
  if (windowsToServe == 0) {
    ::Sleep(milliseconds);
    return;
  }
  waitOrServe(0, nullptr, milliseconds);
}

}  // namespace argb::platform
