#include "field-check/windows/ConsoleProbes.h"

#include <conio.h>

#include <optional>
#include <string>

#include "field-check/ConsoleRules.h"
#include "field-check/windows/Text.h"
#include "platform/windows/ConsoleInput.h"
#include "platform/windows/WindowMessages.h"
#include "platform/windows/WindowsErrorText.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::fieldcheck {
namespace {

// A text the system has in every language.
constexpr DWORD kSampleError = ERROR_ACCESS_DENIED;
constexpr DWORD kLongestText = 512;
constexpr DWORD kPollMs = 10;
constexpr DWORD kPeekedEvents = 16;
// A key's second code is in the input buffer with its first; this is ample for a slow console.
constexpr DWORD kSecondCodeGraceMs = 50;
constexpr wchar_t kAGrave = L'\u00E0';

std::wstring systemText(DWORD error) {
  wchar_t buffer[kLongestText] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, kLongestText, nullptr);
  return std::wstring(buffer, length);
}

// Keys are single keys only without line input; a terminal-backed console (Wine's) hands them on
// only then. _getch switches it off for each read; here it is off for the whole wait, so that a
// key pressed during it is seen at once. Ctrl+C still ends the program.
class SingleKeyInput {
 public:
  SingleKeyInput() {
    if (input_.handle() != nullptr && ::GetConsoleMode(input_.handle(), &saved_))
      ::SetConsoleMode(input_.handle(), saved_ & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  }
  ~SingleKeyInput() {
    if (input_.handle() != nullptr) ::SetConsoleMode(input_.handle(), saved_);
  }
  SingleKeyInput(const SingleKeyInput&) = delete;
  SingleKeyInput& operator=(const SingleKeyInput&) = delete;

 private:
  const platform::ConsoleInput input_;
  DWORD saved_ = 0;
};

// Wine's _kbhit overlooks keys without a character (the arrows), so the wait looks for itself.
bool keyPressWaiting(HANDLE input) {
  INPUT_RECORD records[kPeekedEvents];
  DWORD count = 0;
  if (input == nullptr || !::PeekConsoleInputW(input, records, kPeekedEvents, &count)) return false;
  for (DWORD i = 0; i < count; ++i) {
    if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown) return true;
  }
  return false;
}

}  // namespace

std::optional<KeyRead> readKeyWithin(platform::Console& console,
                                     std::optional<std::uint32_t> milliseconds) {
  const SingleKeyInput singleKeys;
  const platform::ConsoleInput input;
  DWORD events = 0;
  // An input that cannot be read would be waited on for ever.
  if (!milliseconds && !::GetNumberOfConsoleInputEvents(input.handle(), &events))
    return std::nullopt;
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds.value_or(0);
  while (!keyPressWaiting(input.handle())) {
    if (milliseconds && ::GetTickCount64() >= deadline) return std::nullopt;
    // The wait on the input (a pending read to Wine's console, which then hands keys on) ends early
    // for events that are no keys, or fails where the handle cannot be waited on. In the write
    // phase both serve the session-end window, as the updater's waits do.
    if (platform::waitServingWindows(input.handle(), kPollMs) != WAIT_TIMEOUT)
      platform::sleepServingWindows(kPollMs);
  }
  KeyRead read;
  read.code = console.readKey();
  ::Sleep(kSecondCodeGraceMs);
  read.anotherCodeWaiting = ::_kbhit() != 0;
  return read;
}

namespace {

// 'à' as _getch gives it: one byte of the console's input code page, or none where it has no 'à'.
std::optional<int> aGraveCode() {
  char code = 0;
  BOOL replaced = FALSE;
  const int length = ::WideCharToMultiByte(::GetConsoleCP(), WC_NO_BEST_FIT_CHARS, &kAGrave, 1,
                                           &code, 1, nullptr, &replaced);
  if (length != 1 || replaced) return std::nullopt;
  return static_cast<unsigned char>(code);
}

}  // namespace

CheckResult checkCodePage() {
  const std::string shown = platform::errorText(kSampleError);
  // The system's own words must come back whole from the code page they were shown in.
  const std::wstring original = systemText(kSampleError);
  const std::wstring back = wide(shown, ::GetConsoleOutputCP());
  const std::size_t words = back.find(L" (error ");
  const bool roundTrips =
      words != std::wstring::npos && original.compare(0, words, back, 0, words) == 0;
  return judgeCodePage(::GetConsoleOutputCP(), utf8FromConsole(shown), roundTrips);
}

Report checkKeys(platform::Console& console) {
  Report report;
  console.discardTypedAhead();
  console.writeFormatted("Press an arrow key (within 10 s; else the key checks are skipped)\n");
  const std::optional<KeyRead> arrow = readKeyWithin(console, kKeyWaitMs);
  report.push_back(judgeArrowKey(arrow));
  const std::optional<int> expected = aGraveCode();
  std::optional<KeyRead> aGrave;
  if (arrow && expected) {
    console.discardTypedAhead();
    console.writeFormatted(
        consoleFromUtf8("Type \xC3\xA0 (a-grave; Alt+0224 on the number pad)\n"));
    aGrave = readKeyWithin(console, kKeyWaitMs);
  }
  report.push_back(judgeAGraveKey(expected, aGrave));
  return report;
}

}  // namespace argb::fieldcheck
