#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/Console.h"

namespace argb::platform {

// The console on a Linux terminal or pipe. Every write goes to one stream and is flushed at once,
// so texts keep their order and each is visible at its write. Keys are read like _getch: from a
// terminal one key at a time in raw mode, with cursor and function keys turned into the Windows
// console's two codes; from anything else one byte per key.
class LinuxConsole final : public Console {
 public:
  // `input`: descriptor the keys come from; `output`: stream every text goes to.
  LinuxConsole(int input, std::FILE* output);

  void writeFormatted(std::string_view text) override;
  void writeStream(std::string_view text) override;
  void writeStreamLineEnd() override;
  int readKey() override;

 private:
  void write(std::string_view text);
  int readTerminalKey();
  // The rest of an escape sequence and its first code; its second code is kept for the next read.
  int readEscapeSequence();
  std::optional<unsigned char> readByte();
  std::optional<unsigned char> readByteWithin(std::chrono::milliseconds timeout);

  int input_;
  std::FILE* output_;
  std::optional<int> pendingCode_;
};

}  // namespace argb::platform
