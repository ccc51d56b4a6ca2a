#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

#include "platform/Console.h"

namespace argb::platform {

// The console on a Linux terminal or pipe. Every write goes to one stream and is flushed at once,
// so texts keep their order and each is visible at its write. Keys are read like _getch: from a
// terminal one key at a time in raw mode, with cursor and function keys turned into the Windows
// console's two codes, of which a read returns the first; from anything else one byte per key.
class LinuxConsole final : public Console {
 public:
  // `input`: descriptor the keys come from; `output`: stream every text goes to.
  LinuxConsole(int input, std::FILE* output);

  void writeFormatted(std::string_view text) override;
  void writeStream(std::string_view text) override;
  void writeStreamLineEnd() override;
  int readKey() override;
  void discardTypedAhead() override;
  bool outputIsInteractive() override;
  // A terminal on Linux belongs to whoever opened it and outlives the program.
  bool closesWithProgram() override { return false; }

 private:
  void write(std::string_view text);
  int readTerminalKey();
  // Takes the rest of an escape sequence; the first of the console key's two codes.
  int readEscapeSequence();
  std::optional<unsigned char> readByte();
  std::optional<unsigned char> readByteWithin(std::chrono::milliseconds timeout);

  int input_;
  std::FILE* output_;
};

}  // namespace argb::platform
