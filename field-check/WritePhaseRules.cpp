#include "field-check/WritePhaseRules.h"

#include <cstdio>

#include "platform/WritePhaseGuard.h"

namespace argb::fieldcheck {
namespace {

constexpr std::string_view kConsoleWindowClass = "ConsoleWindowClass";

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

std::string phasesText(const Phases<std::uint32_t>& phases) {
  return "before " + hex(phases.before) + ", during " + hex(phases.during) + ", after " +
         hex(phases.after);
}

CheckResult result(std::string name, bool passed, std::string value, std::string why) {
  return {std::move(name), passed ? Verdict::kPass : Verdict::kFail, std::move(value),
          std::move(why)};
}

}  // namespace

ConsoleHost consoleHost(bool hasWindow, std::string_view windowClass, bool terminalSession) {
  if (!hasWindow) return ConsoleHost::kNoWindow;
  if (windowClass == kConsoleWindowClass) return ConsoleHost::kConsoleWindow;
  // A pseudo console's window is hidden; the terminal drawing it has a Close of its own.
  return terminalSession ? ConsoleHost::kWindowsTerminal : ConsoleHost::kOtherHost;
}

std::string_view consoleHostName(ConsoleHost host) {
  switch (host) {
    case ConsoleHost::kNoWindow:
      return "no console window (redirected, or Wine)";
    case ConsoleHost::kConsoleWindow:
      return "a console window of Windows' own (conhost)";
    case ConsoleHost::kWindowsTerminal:
      return "Windows Terminal";
    case ConsoleHost::kOtherHost:
      return "another console host";
  }
  return "unknown";
}

CheckResult judgeQuickEdit(const std::optional<Phases<std::uint32_t>>& inputModes) {
  const std::string name = "write phase: QuickEdit";
  if (!inputModes) return {name, Verdict::kNotApplicable, "no console input", "nothing to switch"};
  const std::string value = "CONIN$ mode " + phasesText(*inputModes);
  if ((inputModes->during & platform::kQuickEditMode) != 0)
    return result(name, false, value, "QuickEdit stayed on during the write phase");
  if (inputModes->after != inputModes->before)
    return result(name, false, value, "the mode after the update differs from the one before");
  return result(name, true, value, "QuickEdit off during the write phase, the mode given back");
}

CheckResult judgeCloseItem(ConsoleHost host, std::string_view windowClass,
                           const std::optional<Phases<std::uint32_t>>& closeItemStates) {
  const std::string name = "write phase: Close item";
  std::string hostText(consoleHostName(host));
  if (host == ConsoleHost::kOtherHost || host == ConsoleHost::kWindowsTerminal)
    hostText += " (window class " + std::string(windowClass) + ")";
  if (host != ConsoleHost::kConsoleWindow)
    return {name, Verdict::kNotApplicable, hostText,
            "only a console window of Windows' own has it"};
  if (!closeItemStates)
    return result(name, false, hostText, "the window's menu or Close item cannot be read");
  const std::string value = hostText + ", menu state " + phasesText(*closeItemStates);
  if ((closeItemStates->during & platform::kMenuItemGrayed) == 0)
    return result(name, false, value, "Close was not greyed out during the write phase");
  if (closeItemStates->after != closeItemStates->before)
    return result(name, false, value, "Close after the update differs from before");
  return result(name, true, value, "greyed out during the write phase, as before after it");
}

CheckResult judgeSessionBlock(const SessionBlockFacts& facts) {
  const std::string name = "write phase: session-end block";
  if (!facts.queryAvailable)
    return {name, Verdict::kNotApplicable, "ShutdownBlockReasonQuery missing",
            "the system cannot show a block"};
  const auto& reasons = facts.reasons;
  const std::string value =
      "reason during: " + (reasons.during ? "\"" + *reasons.during + "\"" : std::string("none"));
  if (reasons.before) return result(name, false, value, "a block was in place before the update");
  if (!reasons.during)
    return result(name, false, value, "no window of the program gives a reason during the update");
  if (reasons.after) return result(name, false, value, "the block outlived the update");
  return result(name, true, value, "in place during the write phase and gone after it");
}

CheckResult judgeExecutionState(std::uint32_t during, std::uint32_t after) {
  const std::string value = "requested during " + hex(during) + ", after " + hex(after);
  constexpr std::uint32_t kAwake = kExecutionContinuous | kExecutionSystemRequired;
  if (during != kAwake)
    return result("write phase: execution state", false, value,
                  "the system was not kept awake during the write phase");
  if (after != kExecutionContinuous)
    return result("write phase: execution state", false, value, "the request outlived the update");
  return result("write phase: execution state", true, value,
                "system kept awake during the write phase, released after it");
}

CheckResult judgeShutdownLevel(const std::optional<Phases<std::uint32_t>>& levels) {
  const std::string name = "write phase: shutdown level";
  if (!levels) return result(name, false, "cannot be read", "GetProcessShutdownParameters failed");
  const std::string value = phasesText(*levels);
  if (levels->during != platform::kWritePhaseShutdownLevel)
    return result(name, false, value,
                  "not raised: the session's end may close other programs before asking");
  if (levels->after != levels->before)
    return result(name, false, value, "the level after the update differs from before");
  return result(name, true, value, "asked early during the write phase, as before after it");
}

CheckResult judgeRestart(const std::optional<RestartFacts>& facts) {
  const std::string name = "restart waits for an update";
  if (!facts)
    return {name, Verdict::kNotApplicable, "not asked for",
            "press R when asked to try a real restart"};
  std::string value = std::to_string(facts->queries) + " end-of-session queries, " +
                      std::to_string(facts->refused) +
                      " refused; reason shown and cancel offered: ";
  value += facts->reasonShownAndCancelled ? (*facts->reasonShownAndCancelled ? "yes" : "no")
                                          : "no answer";
  value += std::string(facts->windowMissing ? "; no" : "; the") +
           " session-end window among the thread's " + std::to_string(facts->threadWindows) +
           " window(s)";
  if (facts->windowMissing)
    return result(name, false, value,
                  "the updater's session-end window was not made: nothing held the restart off");
  if (facts->queries == 0)
    return result(name, false, value,
                  "Windows never asked the program: choose Restart while the check waits");
  if (facts->refused != facts->queries)
    return result(name, false, value, "the program let the session end");
  if (!facts->reasonShownAndCancelled)
    return {name, Verdict::kNotApplicable, value, "answer Y or N after the restart"};
  if (!*facts->reasonShownAndCancelled)
    return result(name, false, value, "Windows did not show the reason or let the user cancel");
  return result(name, true, value, "Windows waited, showed the reason and let the user cancel");
}

}  // namespace argb::fieldcheck
