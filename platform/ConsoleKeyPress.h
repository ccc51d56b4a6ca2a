#pragma once

namespace argb::platform {

// _getch's first code of a key that sends two: a function key, then a cursor or other extended key.
inline constexpr int kFunctionKeyPrefix = 0x00;
inline constexpr int kExtendedKeyPrefix = 0xE0;

// One key press from the Windows console's codes (`readCode` is _getch, `codeWaiting` _kbhit): a
// key's second code is ready at once and taken with its first, so that it cannot answer the next
// read. A character whose own code is 0xE0 ('à' in code page 1252) comes alone, and waiting for a
// second code would swallow the next key.
template <typename ReadCode, typename CodeWaiting>
int readKeyPress(ReadCode readCode, CodeWaiting codeWaiting) {
  const int code = readCode();
  if ((code == kFunctionKeyPrefix || code == kExtendedKeyPrefix) && codeWaiting()) readCode();
  return code;
}

}  // namespace argb::platform
