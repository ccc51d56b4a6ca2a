#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "field-check/CheckResult.h"
#include "platform/ConsoleRestore.h"

namespace argb::fieldcheck {

// A reading taken before the write phase is entered, during it, and after the update ended.
template <typename T>
struct Phases {
  T before{};
  T during{};
  T after{};
};

// The execution states the rules read (the probes assert they are Windows' own); the console's
// bits are the write phase's own (platform/ConsoleRestore.h).
constexpr std::uint32_t kExecutionContinuous = 0x80000000;      // ES_CONTINUOUS
constexpr std::uint32_t kExecutionSystemRequired = 0x00000001;  // ES_SYSTEM_REQUIRED

// Where the console is shown: only a console window of Windows' own has the Close item that the
// write phase greys out.
enum class ConsoleHost { kNoWindow, kConsoleWindow, kWindowsTerminal, kOtherHost };

// From the console window (none, or its class) and whether WT_SESSION is set.
ConsoleHost consoleHost(bool hasWindow, std::string_view windowClass, bool terminalSession);
std::string_view consoleHostName(ConsoleHost host);

// The input modes of CONIN$; nullopt where the process has no console input.
CheckResult judgeQuickEdit(const std::optional<Phases<std::uint32_t>>& inputModes);
// GetMenuState of the Close item; nullopt where the window has no system menu. The window's class
// names a host that is not Windows' own.
CheckResult judgeCloseItem(ConsoleHost host, std::string_view windowClass,
                           const std::optional<Phases<std::uint32_t>>& closeItemStates);

// The session-end block: the reason a window of the thread gives, or nullopt for none.
struct SessionBlockFacts {
  // ShutdownBlockReasonQuery is there to ask (it is looked up, not imported).
  bool queryAvailable = false;
  Phases<std::optional<std::string>> reasons;
};
CheckResult judgeSessionBlock(const SessionBlockFacts& facts);

// The state SetThreadExecutionState gave back when it was asked for the same state again: what the
// write phase had requested during it, and what was left after it.
CheckResult judgeExecutionState(std::uint32_t during, std::uint32_t after);

// The shutdown level (GetProcessShutdownParameters) before, during and after the write phase.
CheckResult judgeShutdownLevel(const std::optional<Phases<std::uint32_t>>& levels);

// A real restart tried by the user while the write phase was held.
struct RestartFacts {
  // The WM_QUERYENDSESSION messages the session-end window received, and how many it refused.
  std::uint32_t queries = 0;
  std::uint32_t refused = 0;
  // The user's answer: Windows showed the reason and let them cancel; nullopt for no answer.
  std::optional<bool> reasonShownAndCancelled;
  // The windows of the thread during the hold, and whether none of them has the session-end
  // window's class (others, such as the default IME window, may be listed before it).
  std::uint32_t threadWindows = 0;
  bool windowMissing = false;
};
// nullopt: the user did not ask for the check.
CheckResult judgeRestart(const std::optional<RestartFacts>& facts);

}  // namespace argb::fieldcheck
