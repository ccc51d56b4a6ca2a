#pragma once

namespace argb::platform {

// _getch's first code of a key that sends two: a function key, then a cursor or other extended key.
inline constexpr int kFunctionKeyPrefix = 0x00;
inline constexpr int kExtendedKeyPrefix = 0xE0;

// One key press from the Windows console's codes (`readCode` is _getch, `codeWaiting` _kbhit): a
// key's second code is ready at once and taken with its first, so that it cannot answer the next
// read. A character whose own code is 0xE0 ('à' in code page 1252) comes alone, and waiting for a
// second code would swallow the next key. A code is one byte: some C runtimes (Wine's)
// sign-extend a character's, which would make 'ÿ' read as input that has ended and a cursor
// key's first code as -32.
template <typename ReadCode, typename CodeWaiting>
int readKeyPress(ReadCode readCode, CodeWaiting codeWaiting) {
  constexpr int kCodeMask = 0xFF;
  const int code = readCode() & kCodeMask;
  if ((code == kFunctionKeyPrefix || code == kExtendedKeyPrefix) && codeWaiting()) readCode();
  return code;
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
