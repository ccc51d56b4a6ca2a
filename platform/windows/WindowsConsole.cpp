#include "platform/windows/WindowsConsole.h"

#include <conio.h>

#include <cstdio>
#include <iostream>
#include <ostream>

namespace argb::platform {

// Each text is flushed so that it is on the console at its write, before any pause or key read.
void WindowsConsole::writeFormatted(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WindowsConsole::writeStream(std::string_view text) {
  std::cout << text << std::flush;
}

void WindowsConsole::writeStreamLineEnd() {
  std::cout << std::endl;
}

int WindowsConsole::readKey() {
  return ::_getch();
}

}  // namespace argb::platform
