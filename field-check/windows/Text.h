#pragma once

#include <string>
#include <string_view>

namespace argb::fieldcheck {

// The report is kept in UTF-8; Windows hands out UTF-16 and the console shows its own code page.
std::string utf8(std::wstring_view text);
std::wstring wide(std::string_view text, unsigned codePage);
// A text in the console's output code page (as WindowsErrorText gives it) as UTF-8.
std::string utf8FromConsole(std::string_view text);
// A UTF-8 text in the console's output code page, for writing it there.
std::string consoleFromUtf8(std::string_view text);

}  // namespace argb::fieldcheck
