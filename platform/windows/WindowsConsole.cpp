#include "platform/windows/WindowsConsole.h"

#include <conio.h>

#include <cstdio>
#include <iostream>
#include <ostream>

#include "platform/ConsoleKeyPress.h"
#include "platform/windows/ConsoleInput.h"
#include "platform/windows/WindowsHeaders.h"

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

namespace {

bool isConsole(DWORD standardHandle) {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(standardHandle), &mode) != 0;
}

}  // namespace

int WindowsConsole::readKey() {
  // A code is one byte; some C runtimes (Wine's) sign-extend a character's, which would make 'ÿ'
  // read as input that has ended.
  constexpr int kCodeMask = 0xFF;
  return readKeyPress([] { return ::_getch() & kCodeMask; }, [] { return ::_kbhit() != 0; });
}

void WindowsConsole::discardTypedAhead() {
  // _getch reads the console's own input, also when standard input is redirected.
  const ConsoleInput input;
  if (input.handle() != nullptr) ::FlushConsoleInputBuffer(input.handle());
}

bool WindowsConsole::outputIsInteractive() {
  return isConsole(STD_OUTPUT_HANDLE);
}

bool WindowsConsole::closesWithProgram() {
  // Output sent to a file or pipe is read there, not in the window, and whoever redirected it runs
  // the program from a shell or script: a key wait would only hold that up, or hang it for good
  // where no one is at the keyboard.
  if (!outputIsInteractive()) return false;
  // A console of its own (from Explorer, a shortcut or the elevation prompt) lists only this
  // process; one shared with cmd.exe or PowerShell lists the shell too.
  DWORD processes[2] = {};
  return ::GetConsoleProcessList(processes, 2) == 1;
}

}  // namespace argb::platform
