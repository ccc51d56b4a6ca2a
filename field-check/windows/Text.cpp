#include "field-check/windows/Text.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::fieldcheck {
namespace {

UINT consoleCodePage() {
  const UINT codePage = ::GetConsoleOutputCP();
  return codePage == 0 ? CP_ACP : codePage;
}

std::string narrow(std::wstring_view text, UINT codePage) {
  const int length = static_cast<int>(text.size());
  const int size =
      ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string converted(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), length, converted.data(), size, nullptr, nullptr);
  return converted;
}

}  // namespace

std::string utf8(std::wstring_view text) {
  return narrow(text, CP_UTF8);
}

std::wstring wide(std::string_view text, unsigned codePage) {
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring converted(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), length, converted.data(), size);
  return converted;
}

std::string utf8FromConsole(std::string_view text) {
  return utf8(wide(text, consoleCodePage()));
}

std::string consoleFromUtf8(std::string_view text) {
  return narrow(wide(text, CP_UTF8), consoleCodePage());
}

}  // namespace argb::fieldcheck
