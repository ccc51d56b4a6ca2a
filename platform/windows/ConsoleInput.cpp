#include "platform/windows/ConsoleInput.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

ConsoleInput::ConsoleInput() {
  const HANDLE input =
      ::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (input != INVALID_HANDLE_VALUE) handle_ = input;
}

ConsoleInput::~ConsoleInput() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

}  // namespace argb::platform
