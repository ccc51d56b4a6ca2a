#include "platform/windows/WindowsConsole.h"

#include <conio.h>

#include <cstdint>
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
  const auto readCode = [] {
    // _getch leaves the error of a failed console read; one from before must not look like it.
    ::SetLastError(ERROR_SUCCESS);
    const int code = ::_getch();
    return ConsoleRead{code, static_cast<std::uint32_t>(::GetLastError())};
  };
  const auto inputThere = [] {
    const ConsoleInput console;
    DWORD events = 0;
    return console.handle() != nullptr &&
           ::GetNumberOfConsoleInputEvents(console.handle(), &events) != 0;
  };
  return readKeyPress(
      readCode, [] { return ::_kbhit() != 0; }, inputThere);
}

void WindowsConsole::discardTypedAhead() {
  const ConsoleInput console;
  switch (typedAheadInput(console.handle() != nullptr, isConsole(STD_INPUT_HANDLE))) {
    case TypedAheadInput::kConsoleInput:
      ::FlushConsoleInputBuffer(console.handle());
      break;
    case TypedAheadInput::kStandardInput:
      ::FlushConsoleInputBuffer(::GetStdHandle(STD_INPUT_HANDLE));
      break;
    case TypedAheadInput::kNone:
      break;
  }
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
