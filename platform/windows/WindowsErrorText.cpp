#include "platform/windows/WindowsErrorText.h"

#include "platform/ErrorTextConversion.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

constexpr DWORD kLongestText = 512;
static_assert(kSystemCodePage == CP_ACP);

// The text as the console shows it, so that it reads right on a Windows of any language.
std::string inConsoleCodePage(const wchar_t* text, int length) {
  const TextConversion conversion = errorTextConversion(::GetConsoleOutputCP());
  const int size = ::WideCharToMultiByte(conversion.codePage, conversion.flags, text, length,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string converted(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(conversion.codePage, conversion.flags, text, length, converted.data(), size,
                        nullptr, nullptr);
  return converted;
}

}  // namespace

std::string errorText(std::uint32_t error) {
  wchar_t buffer[kLongestText] = {};
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, kLongestText, nullptr);
  // The system's texts end in a period and a line end; the caller's line has its own.
  while (length > 0 && (buffer[length - 1] == L'\n' || buffer[length - 1] == L'\r' ||
                        buffer[length - 1] == L'.' || buffer[length - 1] == L' ')) {
    --length;
  }
  std::string text = inConsoleCodePage(buffer, static_cast<int>(length));
  if (text.empty()) text = "system error";
  return text + " (error " + std::to_string(error) + ")";
}

}  // namespace argb::platform
