#pragma once

#include <cstdint>

namespace argb::platform {

// WideCharToMultiByte's code page for the system's own code page (CP_ACP).
inline constexpr std::uint32_t kSystemCodePage = 0;

// The code page and flags a system text (an error's reason) is converted with for the console.
struct TextConversion {
  std::uint32_t codePage = kSystemCodePage;
  std::uint32_t flags = 0;
};

// The console shows the program's bytes in its output code page, which on a Windows of another
// language is not the system's own (850 beside 1252, 866 beside 1251); `consoleCodePage` is
// GetConsoleOutputCP's, 0 without a console, whose reader then takes the system's. No flags:
// WC_ERR_INVALID_CHARS is taken by UTF-8 only, WC_NO_BEST_FIT_CHARS by every page but UTF-8, and a
// conversion refused loses the reason from the line.
constexpr TextConversion errorTextConversion(std::uint32_t consoleCodePage) {
  return {consoleCodePage == 0 ? kSystemCodePage : consoleCodePage, 0};
}

}  // namespace argb::platform
