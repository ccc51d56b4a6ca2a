#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "field-check/ConsoleRules.h"
#include "field-check/DriverRules.h"
#include "field-check/PauseRules.h"
#include "field-check/RunLockRules.h"
#include "field-check/SystemRules.h"
#include "field-check/WritePhaseRules.h"

namespace argb::fieldcheck {
namespace {

using Method = platform::PreciseSleeper::Method;
using Outcome = platform::RunLock::Outcome;
using Modes = Phases<std::uint32_t>;
constexpr Verdict kPass = Verdict::kPass;
constexpr Verdict kFail = Verdict::kFail;
constexpr Verdict kNa = Verdict::kNotApplicable;
constexpr PausePhase kBefore = PausePhase::kBeforeWritePhase;
constexpr PausePhase kDuring = PausePhase::kInWritePhase;

struct Case {
  const char* what;
  CheckResult result;
  Verdict verdict;
  // A text the line must show, so that the reader sees what was measured.
  std::string shows;
};

SessionBlockFacts blocks(bool available, std::optional<std::string> before,
                         std::optional<std::string> during, std::optional<std::string> after) {
  return {available, {std::move(before), std::move(during), std::move(after)}};
}

RunLockFacts lock(Outcome own, std::optional<Outcome> second) {
  return {{own, own == Outcome::kFailed ? "Global\\argb-fw-updater: Access is denied" : ""},
          second,
          "no memory"};
}

TEST(FieldCheckRulesTest, EachCheckJudgesWhatItMeasured) {
  const std::vector<std::string> imports = {"KERNEL32.dll", "USER32.dll"};
  const std::vector<std::string> known = {"kernel32.dll", "user32.dll", "gdi32.dll"};
  const std::vector<Case> cases = {
      {"pauses at 2 ms", judgePauses(kBefore, {{1.0, 3.0}, Method::kHighResolutionTimer, false}),
       kPass,
       "before the write phase: 2 pauses of 1 ms: mean 2.000 ms, p99 3.000 ms, "
       "high-resolution timer, plain waits"},
      {"served pauses above 2 ms",
       judgePauses(kDuring, {{15.6, 1.0}, Method::kHighResolutionTimer, true, true}), kFail,
       "in the write phase: 2 pauses of 1 ms: mean 8.300 ms, p99 15.600 ms, high-resolution "
       "timer, waits serving the window's messages, display driver loaded"},
      {"no pauses", judgePauses(kDuring, {{}, Method::kUndecided, true}), kFail,
       "no pause was measured"},

      {"driver initialises", judgeDriver({true, 0, 0, 0, 1, {}, ""}), kPass,
       "initialise status 0, GPU enumeration status 0, 1 GPU(s), loaded from outside the system "
       "directory: none"},
      {"driver misses a component",
       judgeDriver({true, -2, 126, std::nullopt, 0, {"C:\\nv\\a.dll"}, "not found"}), kFail,
       "initialise status -2, Windows error 126 (not found), loaded from outside the system "
       "directory: C:\\nv\\a.dll"},
      {"no driver", judgeDriver({false, 0, 0, std::nullopt, 0, {}, ""}), kNa, "no nvapi64.dll"},

      {"level raised, back", judgeShutdownLevel(Modes{0x280, 0x3FF, 0x280}), kPass, "0x3ff"},
      {"level not raised", judgeShutdownLevel(Modes{0x280, 0x280, 0x280}), kFail, "not raised"},
      {"level kept", judgeShutdownLevel(Modes{0x280, 0x3FF, 0x3FF}), kFail, "differs"},
      {"level unreadable", judgeShutdownLevel(std::nullopt), kFail, "cannot be read"},

      {"restart held", judgeRestart(RestartFacts{2, 2, true, 3}), kPass,
       "2 end-of-session queries, 2 refused; reason shown and cancel offered: yes; the "
       "session-end window among the thread's 3 window(s)"},
      {"no session-end window", judgeRestart(RestartFacts{0, 0, true, 2, true}), kFail,
       "no session-end window among the thread's 2 window(s); the updater's session-end window "
       "was not made"},
      {"restart not asked for", judgeRestart(std::nullopt), kNa, "not asked for"},
      {"no query came", judgeRestart(RestartFacts{0, 0, true}), kFail, "never asked"},
      {"a query allowed", judgeRestart(RestartFacts{2, 1, true}), kFail, "let the session end"},
      {"no reason shown", judgeRestart(RestartFacts{1, 1, false}), kFail, "did not show"},
      {"no answer", judgeRestart(RestartFacts{1, 1, std::nullopt}), kNa, "no answer"},

      {"QuickEdit off, mode back", judgeQuickEdit(Modes{0xE7, 0xA7, 0xE7}), kPass, "0xa7"},
      {"QuickEdit left on", judgeQuickEdit(Modes{0xE7, 0xE7, 0xE7}), kFail, "stayed on"},
      {"mode not given back", judgeQuickEdit(Modes{0x67, 0xA7, 0xE7}), kFail, "differs"},
      {"no console input", judgeQuickEdit(std::nullopt), kNa, "no console input"},

      {"Close greyed, back",
       judgeCloseItem(ConsoleHost::kConsoleWindow, "ConsoleWindowClass", Modes{0, 1, 0}), kPass,
       "conhost"},
      {"Close never greyed",
       judgeCloseItem(ConsoleHost::kConsoleWindow, "ConsoleWindowClass", Modes{0, 0, 0}), kFail,
       "not greyed"},
      {"Close left greyed",
       judgeCloseItem(ConsoleHost::kConsoleWindow, "ConsoleWindowClass", Modes{0, 1, 1}), kFail,
       "differs"},
      {"no menu", judgeCloseItem(ConsoleHost::kConsoleWindow, "ConsoleWindowClass", std::nullopt),
       kFail, "cannot"},
      {"Windows Terminal",
       judgeCloseItem(ConsoleHost::kWindowsTerminal, "PseudoConsoleWindow", Modes{}), kNa,
       "Windows Terminal (window class Pseudo"},
      {"no window", judgeCloseItem(ConsoleHost::kNoWindow, "", Modes{}), kNa, "no console window"},

      {"block during only", judgeSessionBlock(blocks(true, {}, "Updating", {})), kPass,
       "\"Updating\""},
      {"no block", judgeSessionBlock(blocks(true, {}, {}, {})), kFail, "none"},
      {"block outlives", judgeSessionBlock(blocks(true, {}, "U", "U")), kFail, "outlived"},
      {"block before", judgeSessionBlock(blocks(true, "U", "U", {})), kFail, "before"},
      {"no query", judgeSessionBlock(blocks(false, {}, {}, {})), kNa, "missing"},

      {"awake, released", judgeExecutionState(0x80000001, 0x80000000), kPass, "0x80000001"},
      {"not awake", judgeExecutionState(0x80000000, 0x80000000), kFail, "not kept awake"},
      {"not released", judgeExecutionState(0x80000001, 0x80000001), kFail, "outlived"},

      {"marker not loaded", judgeLibrarySearch({true, {true, true}, std::nullopt}), kPass,
       "system directory only: yes, current directory out: yes"},
      {"marker loaded", judgeLibrarySearch({true, {false, true}, "C:\\fc\\m.dll"}), kFail,
       "loaded from C:\\fc\\m.dll"},
      {"marker missing", judgeLibrarySearch({false, {true, true}, std::nullopt}), kFail,
       kMarkerLibraryName},

      {"all known, any case", judgeKnownDlls(imports, known), kPass, "KERNEL32.dll, USER32.dll"},
      {"one not known", judgeKnownDlls({"KERNEL32.dll", "WINMM.dll"}, known), kFail,
       "not listed: WINMM.dll"},
      {"key unreadable", judgeKnownDlls(imports, std::nullopt), kFail, "cannot be read"},

      {"not elevated", judgeElevation(false), kFail, "not elevated"},
      {"token unknown", judgeElevation(std::nullopt), kFail, "unknown"},

      {"all mitigations", judgeMitigations({true, true, true, true}), kPass, "DEP yes"},
      {"low-entropy ASLR", judgeMitigations({true, true, true, false}), kFail,
       "high-entropy ASLR no"},
      {"Windows 7", judgeMitigations({false, false, false, false}), kNa, "missing"},

      {"Windows 7 RTM", judgeWindowsVersion({6, 1, 7600}), kPass, "6.1.7600"},
      {"Vista", judgeWindowsVersion({6, 0, 6002}), kFail, "older"},

      {"second thread sees it held",
       judgeRunLock(lock(Outcome::kTaken, Outcome::kHeldByAnotherRun)), kPass, "saw it held"},
      {"second thread took it too", judgeRunLock(lock(Outcome::kTaken, Outcome::kTaken)), kFail,
       "took it too"},
      {"second thread failed", judgeRunLock(lock(Outcome::kTaken, Outcome::kFailed)), kFail,
       "could not ask"},
      {"no second thread", judgeRunLock(lock(Outcome::kTaken, std::nullopt)), kFail,
       "did not run: no memory"},
      {"an update runs", judgeRunLock(lock(Outcome::kHeldByAnotherRun, Outcome::kHeldByAnotherRun)),
       kFail, "another"},
      {"lock failed", judgeRunLock(lock(Outcome::kFailed, Outcome::kHeldByAnotherRun)), kFail,
       "Access is denied"},

      {"code page whole", judgeCodePage(850, "Zugriff verweigert", true), kPass,
       "code page 850, \"Zugriff verweigert\""},
      {"code page loses", judgeCodePage(437, "?????", false), kFail, "lost"},
      {"no console", judgeCodePage(0, "", false), kNa, "no console"},

      {"arrow as one", judgeArrowKey(KeyRead{0xE0, false}), kPass, "read 0xE0"},
      {"arrow as two", judgeArrowKey(KeyRead{0xE0, true}), kFail, "still waiting"},
      {"F1 as one", judgeArrowKey(KeyRead{0x00, false}), kPass, "0x00"},
      {"not an arrow", judgeArrowKey(KeyRead{'x', false}), kFail, "0x78"},
      {"no arrow typed", judgeArrowKey(std::nullopt), kNa, "no key within 10 s"},
      {"a-grave 1252", judgeAGraveKey(0xE0, KeyRead{0xE0, false}), kPass, "expected 0xE0"},
      {"a-grave swallows", judgeAGraveKey(0xE0, KeyRead{0xE0, true}), kFail, "more than one"},
      {"a-grave misread", judgeAGraveKey(0x85, KeyRead{0xA0, false}), kFail, "another key"},
      {"a-grave not typed", judgeAGraveKey(0x85, std::nullopt), kNa, "no key"},
      {"no a-grave in page", judgeAGraveKey(std::nullopt, std::nullopt), kNa, "has no a-grave"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result.verdict, c.verdict) << c.what << ": " << reportLine(c.result);
    EXPECT_NE(reportLine(c.result).find(c.shows), std::string::npos)
        << c.what << ": " << reportLine(c.result);
  }
}

TEST(FieldCheckRulesTest, ConsoleHostFromItsWindow) {
  EXPECT_EQ(consoleHost(false, "", true), ConsoleHost::kNoWindow);
  EXPECT_EQ(consoleHost(true, "ConsoleWindowClass", false), ConsoleHost::kConsoleWindow);
  // Windows Terminal started from a classic console still shows it in a window of its own.
  EXPECT_EQ(consoleHost(true, "ConsoleWindowClass", true), ConsoleHost::kConsoleWindow);
  EXPECT_EQ(consoleHost(true, "PseudoConsoleWindow", true), ConsoleHost::kWindowsTerminal);
  EXPECT_EQ(consoleHost(true, "PseudoConsoleWindow", false), ConsoleHost::kOtherHost);
}

TEST(FieldCheckRulesTest, DriverModulesNewAndOutsideTheSystemDirectory) {
  const std::string system = "C:\\Windows\\System32";
  const std::vector<std::string> before = {"C:\\fc\\argb-field-check.exe",
                                           "C:\\Windows\\System32\\KERNEL32.DLL"};
  const std::vector<std::string> after = {
      "C:\\fc\\ARGB-FIELD-CHECK.EXE",                        // there before, in another case
      "C:\\Windows\\System32\\kernel32.dll",                 // there before
      "c:\\windows\\system32\\nvapi64.dll",                  // new, in the system directory
      "C:\\Windows\\System32\\DriverStore\\nv\\nvcore.dll",  // below it: not searched
      "C:\\Windows\\System32x\\look-alike.dll",              // a folder that only starts like it
      "C:\\fc\\helper.dll"};
  EXPECT_EQ(
      modulesAddedOutside(before, after, system),
      (std::vector<std::string>{"C:\\Windows\\System32\\DriverStore\\nv\\nvcore.dll",
                                "C:\\Windows\\System32x\\look-alike.dll", "C:\\fc\\helper.dll"}));
  // The folder as GetSystemDirectory gives it, with or without the separator.
  EXPECT_EQ(modulesAddedOutside({}, {"C:\\W\\S\\a.dll"}, "C:\\W\\S\\"), std::vector<std::string>{});
}

}  // namespace
}  // namespace argb::fieldcheck
