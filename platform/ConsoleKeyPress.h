#pragma once

#include <cstdint>

#include "platform/Console.h"

namespace argb::platform {

// _getch's first code of a key that sends two: a function key, then a cursor or other extended key.
inline constexpr int kFunctionKeyPrefix = 0x00;
inline constexpr int kExtendedKeyPrefix = 0xE0;

// What one _getch call gave, and the error it left behind (0 when none). A read that found no
// key gives -1, in Windows' C runtime and in Wine's; Wine's also gives -1 for 'ÿ' (0xFF in code
// page 1252, sign-extended), and only the error left tells that key from no key.
struct ConsoleRead {
  int code;
  std::uint32_t error;
};

// A failed read is tried again while the console input is there (it may only have been cut short),
// but reads that keep failing are input that has ended, not a wait that spins for ever.
inline constexpr int kFailedReadsBeforeEnd = 3;

// One key press from the Windows console's codes (`readCode` is _getch, `codeWaiting` _kbhit,
// `inputThere` whether the console input can still be read): a key's second code is ready at once
// and taken with its first, so that it cannot answer the next read. A character whose own code is
// 0xE0 ('à' in code page 1252) comes alone, and waiting for a second code would swallow the next
// key. A code is one byte, as some C runtimes (Wine's) sign-extend a character's: a cursor key's
// first code would read as -32. No key is ever made up: a failed read, and a lone 0x00 (a key
// without a character or a second code), answer nothing and are read again, and input that is
// gone is Console::kInputEnded.
template <typename ReadCode, typename CodeWaiting, typename InputThere>
int readKeyPress(ReadCode readCode, CodeWaiting codeWaiting, InputThere inputThere) {
  constexpr int kNoKey = -1;
  constexpr int kCodeMask = 0xFF;
  for (int failedReads = 0;;) {
    const ConsoleRead read = readCode();
    if (read.code == kNoKey) {
      if (!inputThere()) return Console::kInputEnded;
      if (read.error != 0) {
        if (++failedReads == kFailedReadsBeforeEnd) return Console::kInputEnded;
        continue;
      }
    }
    const int code = read.code & kCodeMask;
    const bool twoCodes =
        (code == kFunctionKeyPrefix || code == kExtendedKeyPrefix) && codeWaiting();
    if (twoCodes) readCode();
    if (twoCodes || code != kFunctionKeyPrefix) return code;
  }
}

// Where the keys typed ahead of a question are dropped: in the input that _getch takes them from,
// the console's own (CONIN$), also when standard input is redirected from a file or pipe, where
// dropping them from standard input would fail and leave them to answer. Standard input is that
// same input only while it is the console.
enum class TypedAheadInput { kNone, kConsoleInput, kStandardInput };
constexpr TypedAheadInput typedAheadInput(bool consoleInputOpened, bool standardInputIsConsole) {
  if (consoleInputOpened) return TypedAheadInput::kConsoleInput;
  return standardInputIsConsole ? TypedAheadInput::kStandardInput : TypedAheadInput::kNone;
}

}  // namespace argb::platform
