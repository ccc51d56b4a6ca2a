#include "tools/field-check/windows/ConsoleProbes.h"

#include <conio.h>

#include <optional>
#include <string>

#include "platform/windows/WindowsErrorText.h"
#include "platform/windows/WindowsHeaders.h"
#include "tools/field-check/ConsoleRules.h"
#include "tools/field-check/windows/Text.h"

namespace argb::fieldcheck {
namespace {

// A text the system has in every language.
constexpr DWORD kSampleError = ERROR_ACCESS_DENIED;
constexpr DWORD kLongestText = 512;
constexpr DWORD kPollMs = 10;
// A key's second code is in the input buffer with its first; this is ample for a slow console.
constexpr DWORD kSecondCodeGraceMs = 50;
constexpr wchar_t kAGrave = L'\u00E0';

std::wstring systemText(DWORD error) {
  wchar_t buffer[kLongestText] = {};
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, kLongestText, nullptr);
  return std::wstring(buffer, length);
}

std::optional<KeyRead> readKeyWithin(platform::Console& console, DWORD milliseconds) {
  for (DWORD waited = 0; !::_kbhit(); waited += kPollMs) {
    if (waited >= milliseconds) return std::nullopt;
    ::Sleep(kPollMs);
  }
  KeyRead read;
  read.code = console.readKey();
  ::Sleep(kSecondCodeGraceMs);
  read.anotherCodeWaiting = ::_kbhit() != 0;
  return read;
}

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
