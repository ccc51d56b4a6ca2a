#include "field-check/windows/WritePhaseProbe.h"

#include <optional>
#include <string>

#include "field-check/WritePhaseRules.h"
#include "field-check/windows/Text.h"
#include "platform/windows/ConsoleInput.h"
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

struct Reading {
  std::optional<std::uint32_t> inputMode;
  std::optional<std::uint32_t> closeItem;
  std::optional<std::string> blockReason;
};

Reading read(BlockReasonQuery query) {
  return {inputMode(), closeItemState(), sessionBlockReason(query)};
}

template <typename T>
std::optional<Phases<T>> allThree(const std::optional<T>& before, const std::optional<T>& during,
                                  const std::optional<T>& after) {
  if (!before || !during || !after) return std::nullopt;
  return Phases<T>{*before, *during, *after};
}

}  // namespace

Report checkWritePhase(platform::SystemLibraryLoader& loader) {
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
  guard.updateEnded();
  const Reading after = read(query);
  const EXECUTION_STATE requestedAfter = ::SetThreadExecutionState(ES_CONTINUOUS);

  report.push_back(judgeQuickEdit(allThree(before.inputMode, during.inputMode, after.inputMode)));
  report.push_back(judgeCloseItem(host, windowClass,
                                  allThree(before.closeItem, during.closeItem, after.closeItem)));
  report.push_back(judgeSessionBlock(
      {query != nullptr, {before.blockReason, during.blockReason, after.blockReason}}));
  report.push_back(judgeExecutionState(requestedDuring, requestedAfter));
  return report;
}

}  // namespace argb::fieldcheck
