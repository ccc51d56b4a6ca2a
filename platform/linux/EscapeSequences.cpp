#include "platform/linux/EscapeSequences.h"

#include <algorithm>
#include <array>

namespace argb::platform {
namespace {

constexpr char kEscape = '\x1B';
constexpr char kControlSequence = '[';  // ESC [ ...: parameters, then a final byte
constexpr char kSingleShift = 'O';      // ESC O x: one final byte
constexpr char kFinalByteFirst = '\x40';
constexpr char kFinalByteLast = '\x7E';
// The Linux virtual console sends F1..F5 as ESC [ [ A..E.
constexpr std::string_view kLinuxConsoleFunctionKey = "[[";

constexpr int kExtendedKeyPrefix = 0xE0;
constexpr int kFunctionKeyPrefix = 0x00;

// Scan codes of the Windows console.
enum ScanCode : int {
  kF1 = 0x3B,
  kF2 = 0x3C,
  kF3 = 0x3D,
  kF4 = 0x3E,
  kF5 = 0x3F,
  kF6 = 0x40,
  kF7 = 0x41,
  kF8 = 0x42,
  kF9 = 0x43,
  kF10 = 0x44,
  kHome = 0x47,
  kUp = 0x48,
  kPageUp = 0x49,
  kLeft = 0x4B,
  kRight = 0x4D,
  kEnd = 0x4F,
  kDown = 0x50,
  kPageDown = 0x51,
  kInsert = 0x52,
  kDelete = 0x53,
  kF11 = 0x85,
  kF12 = 0x86,
};

struct KeySequence {
  std::string_view afterEscape;
  ConsoleKeyCodes codes;
};

constexpr ConsoleKeyCodes extended(ScanCode code) {
  return {kExtendedKeyPrefix, code};
}
constexpr ConsoleKeyCodes function(ScanCode code) {
  return {kFunctionKeyPrefix, code};
}

// The forms that xterm-like terminals and the Linux console send, in both cursor-key modes.
constexpr std::array kKeySequences = {
    KeySequence{"[A", extended(kUp)},      KeySequence{"OA", extended(kUp)},
    KeySequence{"[B", extended(kDown)},    KeySequence{"OB", extended(kDown)},
    KeySequence{"[C", extended(kRight)},   KeySequence{"OC", extended(kRight)},
    KeySequence{"[D", extended(kLeft)},    KeySequence{"OD", extended(kLeft)},
    KeySequence{"[H", extended(kHome)},    KeySequence{"[1~", extended(kHome)},
    KeySequence{"OH", extended(kHome)},    KeySequence{"[F", extended(kEnd)},
    KeySequence{"[4~", extended(kEnd)},    KeySequence{"OF", extended(kEnd)},
    KeySequence{"[2~", extended(kInsert)}, KeySequence{"[3~", extended(kDelete)},
    KeySequence{"[5~", extended(kPageUp)}, KeySequence{"[6~", extended(kPageDown)},
    KeySequence{"[23~", extended(kF11)},   KeySequence{"[24~", extended(kF12)},
    KeySequence{"OP", function(kF1)},      KeySequence{"[11~", function(kF1)},
    KeySequence{"[[A", function(kF1)},     KeySequence{"OQ", function(kF2)},
    KeySequence{"[12~", function(kF2)},    KeySequence{"[[B", function(kF2)},
    KeySequence{"OR", function(kF3)},      KeySequence{"[13~", function(kF3)},
    KeySequence{"[[C", function(kF3)},     KeySequence{"OS", function(kF4)},
    KeySequence{"[14~", function(kF4)},    KeySequence{"[[D", function(kF4)},
    KeySequence{"[15~", function(kF5)},    KeySequence{"[[E", function(kF5)},
    KeySequence{"[17~", function(kF6)},    KeySequence{"[18~", function(kF7)},
    KeySequence{"[19~", function(kF8)},    KeySequence{"[20~", function(kF9)},
    KeySequence{"[21~", function(kF10)},
};

bool isFinalByte(char byte) {
  return byte >= kFinalByteFirst && byte <= kFinalByteLast;
}

}  // namespace

bool isCompleteEscapeSequence(std::string_view afterEscape) {
  // Terminals send Alt with a key as an ESC in front of that key's own sequence.
  while (afterEscape.size() > 1 && afterEscape.front() == kEscape) afterEscape.remove_prefix(1);
  if (afterEscape.empty() || afterEscape == std::string_view(&kEscape, 1)) return false;
  switch (afterEscape.front()) {
    case kControlSequence:
      if (afterEscape.starts_with(kLinuxConsoleFunctionKey)) {
        return afterEscape.size() > kLinuxConsoleFunctionKey.size();
      }
      return afterEscape.size() > 1 && isFinalByte(afterEscape.back());
    case kSingleShift:
      return afterEscape.size() > 1;
    default:
      return true;
  }
}

std::optional<ConsoleKeyCodes> consoleKeyCodes(std::string_view afterEscape) {
  const auto* const found = std::find_if(
      kKeySequences.begin(), kKeySequences.end(),
      [afterEscape](const KeySequence& key) { return key.afterEscape == afterEscape; });
  if (found == kKeySequences.end()) return std::nullopt;
  return found->codes;
}

}  // namespace argb::platform
