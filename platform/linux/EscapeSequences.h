#pragma once

#include <optional>
#include <string_view>

namespace argb::platform {

// The two codes the Windows console gives for a cursor, edit or function key: a prefix (0xE0 or
// 0x00) and the key's scan code.
struct ConsoleKeyCodes {
  int prefix;
  int scanCode;
};

// Whether the bytes that followed an ESC so far form a whole terminal key sequence, so that
// reading more would take bytes of the next key.
bool isCompleteEscapeSequence(std::string_view afterEscape);

// The console's codes for a whole sequence (the bytes after the ESC); none for one it lacks.
std::optional<ConsoleKeyCodes> consoleKeyCodes(std::string_view afterEscape);

}  // namespace argb::platform
