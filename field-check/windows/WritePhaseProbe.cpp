#include "field-check/windows/WritePhaseProbe.h"

#include <cwchar>
#include <optional>
#include <string>

#include "field-check/ConsoleRules.h"
#include "field-check/WritePhaseRules.h"
#include "field-check/windows/ConsoleProbes.h"
#include "field-check/windows/Text.h"
#include "platform/windows/ConsoleInput.h"
#include "platform/windows/SessionEndHold.h"
#include "platform/windows/SystemFunction.h"
#include "platform/windows/WindowsHeaders.h"
#include "platform/windows/WindowsWritePhaseGuard.h"

namespace argb::fieldcheck {
namespace {

static_assert(kExecutionContinuous == ES_CONTINUOUS &&
              kExecutionSystemRequired == ES_SYSTEM_REQUIRED);

constexpr DWORD kLongestReason = 256;
constexpr int kLongestClassName = 64;

using BlockReasonQuery = BOOL(WINAPI*)(HWND, LPWSTR, DWORD*);

struct BlockSearch {
  BlockReasonQuery query;
  std::optional<std::string> reason;
};

BOOL CALLBACK findBlock(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<BlockSearch*>(context);
  wchar_t reason[kLongestReason] = {};
  DWORD length = kLongestReason;
  if (search.query(window, reason, &length)) search.reason = utf8(reason);
  return search.reason ? FALSE : TRUE;
}

// Whatever window the guard made for it, the block is the system's: any window of this thread that
// gives a reason.
std::optional<std::string> sessionBlockReason(BlockReasonQuery query) {
  if (query == nullptr) return std::nullopt;
  BlockSearch search{query, std::nullopt};
  ::EnumThreadWindows(::GetCurrentThreadId(), findBlock, reinterpret_cast<LPARAM>(&search));
  return search.reason;
}

std::optional<std::uint32_t> inputMode() {
  const platform::ConsoleInput input;
  DWORD mode = 0;
  if (input.handle() == nullptr || !::GetConsoleMode(input.handle(), &mode)) return std::nullopt;
  return mode;
}

std::optional<std::uint32_t> closeItemState() {
  const HMENU menu = ::GetSystemMenu(::GetConsoleWindow(), FALSE);
  if (menu == nullptr) return std::nullopt;
  const UINT state = ::GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND);
  if (state == static_cast<UINT>(-1)) return std::nullopt;
  return state;
}

std::string consoleWindowClass() {
  wchar_t className[kLongestClassName] = {};
  if (const HWND window = ::GetConsoleWindow())
    ::GetClassNameW(window, className, kLongestClassName);
  return utf8(className);
}

std::optional<std::uint32_t> shutdownLevel() {
  DWORD level = 0;
  DWORD flags = 0;
  if (!::GetProcessShutdownParameters(&level, &flags)) return std::nullopt;
  return level;
}

struct Reading {
  std::optional<std::uint32_t> inputMode;
  std::optional<std::uint32_t> closeItem;
  std::optional<std::string> blockReason;
  std::optional<std::uint32_t> shutdownLevel;
};

Reading read(BlockReasonQuery query) {
  return {inputMode(), closeItemState(), sessionBlockReason(query), shutdownLevel()};
}

// The thread's windows, and among them the session-end window, told by its class: Windows may
// list another one first (its default IME window, a window the driver made on this thread).
struct ThreadWindows {
  std::uint32_t count = 0;
  HWND sessionEnd = nullptr;
};

BOOL CALLBACK noteWindow(HWND window, LPARAM context) {
  auto& windows = *reinterpret_cast<ThreadWindows*>(context);
  ++windows.count;
  wchar_t className[kLongestClassName] = {};
  if (windows.sessionEnd == nullptr && ::GetClassNameW(window, className, kLongestClassName) > 0 &&
      std::wcscmp(className, platform::kSessionEndWindowClass) == 0)
    windows.sessionEnd = window;
  return TRUE;
}

ThreadWindows threadWindows() {
  ThreadWindows windows;
  ::EnumThreadWindows(::GetCurrentThreadId(), noteWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// The end-of-session queries the session-end window received while it was watched, and its
// answers. One window at a time, on this thread only.
struct QueryCount {
  WNDPROC original = nullptr;
  std::uint32_t queries = 0;
  std::uint32_t refused = 0;
};
QueryCount queryCount;

LRESULT CALLBACK countQueries(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT answer = ::CallWindowProcW(queryCount.original, window, message, wParam, lParam);
  if (message == WM_QUERYENDSESSION) {
    ++queryCount.queries;
    if (answer == FALSE) ++queryCount.refused;
  }
  return answer;
}

// Watches the window's queries from its construction to its destruction, which gives the
// window's own procedure back.
class QueryWatch {
 public:
  explicit QueryWatch(HWND window) : window_(window) {
    queryCount = {};
    if (window_ == nullptr) return;
    queryCount.original = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countQueries)));
  }
  ~QueryWatch() {
    if (window_ != nullptr && queryCount.original != nullptr)
      ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(queryCount.original));
  }
  QueryWatch(const QueryWatch&) = delete;
  QueryWatch& operator=(const QueryWatch&) = delete;

 private:
  const HWND window_;
};

constexpr std::uint32_t kAnswerWaitMs = 60000;

template <typename T>
std::optional<Phases<T>> allThree(const std::optional<T>& before, const std::optional<T>& during,
                                  const std::optional<T>& after) {
  if (!before || !during || !after) return std::nullopt;
  return Phases<T>{*before, *during, *after};
}

}  // namespace

bool sessionEndWindowOpen() {
  return threadWindows().sessionEnd != nullptr;
}

Report checkWritePhase(platform::SystemLibraryLoader& loader, PauseProbe& pauses) {
  Report report;
  // Looked up, not imported: a system without it still runs the other checks.
  const BlockReasonQuery query = platform::loadedSystemFunction<BOOL WINAPI(HWND, LPWSTR, DWORD*)>(
      L"user32.dll", "ShutdownBlockReasonQuery");
  const std::string windowClass = consoleWindowClass();
  const ConsoleHost host = consoleHost(::GetConsoleWindow() != nullptr, windowClass,
                                       ::GetEnvironmentVariableW(L"WT_SESSION", nullptr, 0) != 0);
  platform::WindowsWritePhaseGuard guard;
  guard.loadSystemLibrariesWith(loader);
  const Reading before = read(query);
  guard.enterWritePhase();
  const Reading during = read(query);
  // Asking again for what the write phase asked for changes nothing and gives back its request.
  const EXECUTION_STATE requestedDuring =
      ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  const CheckResult pausesDuring = pauses.measure(PausePhase::kInWritePhase);
  guard.updateEnded();
  const Reading after = read(query);
  const EXECUTION_STATE requestedAfter = ::SetThreadExecutionState(ES_CONTINUOUS);

  report.push_back(judgeQuickEdit(allThree(before.inputMode, during.inputMode, after.inputMode)));
  report.push_back(judgeCloseItem(host, windowClass,
                                  allThree(before.closeItem, during.closeItem, after.closeItem)));
  report.push_back(judgeSessionBlock(
      {query != nullptr, {before.blockReason, during.blockReason, after.blockReason}}));
  report.push_back(judgeExecutionState(requestedDuring, requestedAfter));
  report.push_back(judgeShutdownLevel(
      allThree(before.shutdownLevel, during.shutdownLevel, after.shutdownLevel)));
  report.push_back(pausesDuring);
  return report;
}

CheckResult checkRestart(platform::Console& console, platform::SystemLibraryLoader& loader) {
  console.discardTypedAhead();
  console.writeFormatted("Press R within 10 s to check that a restart waits for an update.\n");
  const std::optional<KeyRead> key = readKeyWithin(console, kKeyWaitMs);
  if (!key || (key->code != 'r' && key->code != 'R')) return judgeRestart(std::nullopt);

  platform::WindowsWritePhaseGuard guard;
  guard.loadSystemLibrariesWith(loader);
  guard.enterWritePhase();
  const ThreadWindows windows = threadWindows();
  RestartFacts facts;
  facts.threadWindows = windows.count;
  facts.windowMissing = windows.sessionEnd == nullptr;
  // Without the window nothing would hold the restart: the user is not asked to try one.
  if (!facts.windowMissing) {
    const QueryWatch watch(windows.sessionEnd);
    console.writeFormatted(
        "The check now holds off a restart, as an update does, until you press a key.\n"
        "Choose Restart from the Start menu. When Windows names this program, choose Cancel,\n"
        "then come back here and press a key. A restart still waiting on Windows' screen goes\n"
        "on once the key is pressed.\n");
    readKeyWithin(console, std::nullopt);
    facts.queries = queryCount.queries;
    facts.refused = queryCount.refused;
  }
  guard.updateEnded();
  if (facts.windowMissing) return judgeRestart(facts);
  console.discardTypedAhead();
  console.writeFormatted(
      "Did Windows show \"Firmware update in progress. Keep the computer on.\" and let you "
      "cancel the restart? (Y/N)\n");
  if (const std::optional<KeyRead> answer = readKeyWithin(console, kAnswerWaitMs)) {
    if (answer->code == 'y' || answer->code == 'Y') facts.reasonShownAndCancelled = true;
    if (answer->code == 'n' || answer->code == 'N') facts.reasonShownAndCancelled = false;
  }
  return judgeRestart(facts);
}

}  // namespace argb::fieldcheck
