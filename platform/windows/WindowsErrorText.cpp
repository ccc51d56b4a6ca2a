#include "platform/windows/WindowsErrorText.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

std::string errorText(std::uint32_t error) {
  char buffer[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  // The system's texts end in a period and a line end; the caller's line has its own.
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "system error";
  return text + " (error " + std::to_string(error) + ")";
}

}  // namespace argb::platform
