#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace argb::platform {

// UTF-16 (as the Windows-shaped interface passes names) to the UTF-8 that Linux paths use, and
// back. Ill-formed input (a lone surrogate, a broken UTF-8 sequence) gives no result.
std::optional<std::string> utf16ToUtf8(std::u16string_view text);
std::optional<std::u16string> utf8ToUtf16(std::string_view text);

}  // namespace argb::platform
