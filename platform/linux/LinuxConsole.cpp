#include "platform/linux/LinuxConsole.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/linux/EscapeSequences.h"
#include "platform/linux/RawTerminalMode.h"

namespace argb::platform {
namespace {

constexpr unsigned char kEscape = 0x1B;
// The bytes of one key's sequence arrive together; a longer gap means the user pressed ESC alone.
constexpr std::chrono::milliseconds kSequenceByteTimeout{30};
// Bounds what one key may consume, whatever arrives.
constexpr std::size_t kLongestEscapeSequence = 16;
constexpr std::string_view kLineEnd = "\n";

}  // namespace

LinuxConsole::LinuxConsole(int input, std::FILE* output) : input_(input), output_(output) {}

void LinuxConsole::writeFormatted(std::string_view text) {
  write(text);
}

void LinuxConsole::writeStream(std::string_view text) {
  write(text);
}

void LinuxConsole::writeStreamLineEnd() {
  write(kLineEnd);
}

void LinuxConsole::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), output_);
  std::fflush(output_);
}

int LinuxConsole::readKey() {
  if (::isatty(input_) != 0) return readTerminalKey();
  const std::optional<unsigned char> byte = readByte();
  return byte ? *byte : kInputEnded;
}

int LinuxConsole::readTerminalKey() {
  const RawTerminalMode raw(input_);
  const std::optional<unsigned char> byte = readByte();
  if (!byte) return kInputEnded;
  return *byte == kEscape ? readEscapeSequence() : *byte;
}

int LinuxConsole::readEscapeSequence() {
  std::string afterEscape;
  while (!isCompleteEscapeSequence(afterEscape) && afterEscape.size() < kLongestEscapeSequence) {
    const std::optional<unsigned char> byte = readByteWithin(kSequenceByteTimeout);
    if (!byte) break;
    afterEscape.push_back(static_cast<char>(*byte));
  }
  // A lone ESC and a sequence without a console key both read as ESC, with nothing left over.
  const std::optional<ConsoleKeyCodes> codes = consoleKeyCodes(afterEscape);
  if (!codes) return kEscape;
  return codes->prefix;
}

void LinuxConsole::discardTypedAhead() {
  if (::isatty(input_) != 0) ::tcflush(input_, TCIFLUSH);
}

bool LinuxConsole::outputIsInteractive() {
  return ::isatty(::fileno(output_)) != 0;
}

std::optional<unsigned char> LinuxConsole::readByte() {
  unsigned char byte = 0;
  for (;;) {
    const ssize_t count = ::read(input_, &byte, 1);
    if (count == 1) return byte;
    if (count < 0 && errno == EINTR) continue;
    return std::nullopt;
  }
}

std::optional<unsigned char> LinuxConsole::readByteWithin(std::chrono::milliseconds timeout) {
  pollfd request{input_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&request, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return std::nullopt;
  return readByte();
}

}  // namespace argb::platform
