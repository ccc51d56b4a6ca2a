#include "field-check/RunLockRules.h"

namespace argb::fieldcheck {
namespace {

using Outcome = platform::RunLock::Outcome;

// Away from 0 and 1, which a child that crashed early or failed in its runtime could give.
constexpr int kChildSawItHeld = 10;
constexpr int kChildTookIt = 11;
constexpr int kChildFailed = 12;

std::string childText(const RunLockFacts& facts) {
  if (!facts.childExitCode) return "the second instance did not run: " + facts.childError;
  switch (*facts.childExitCode) {
    case kChildSawItHeld:
      return "the second instance saw it held";
    case kChildTookIt:
      return "the second instance took it too";
    case kChildFailed:
      return "the second instance could not ask for it";
    default:
      return "the second instance ended with " + std::to_string(*facts.childExitCode);
  }
}

}  // namespace

int runLockProbeExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::kHeldByAnotherRun:
      return kChildSawItHeld;
    case Outcome::kTaken:
      return kChildTookIt;
    case Outcome::kFailed:
      break;
  }
  return kChildFailed;
}

CheckResult judgeRunLock(const RunLockFacts& facts) {
  const std::string name = "run lock";
  switch (facts.own.outcome) {
    case Outcome::kHeldByAnotherRun:
      return {name, Verdict::kFail, "held by another run",
              "end the running updater and check again"};
    case Outcome::kFailed:
      return {name, Verdict::kFail, "not taken: " + facts.own.cause, "an update could not start"};
    case Outcome::kTaken:
      break;
  }
  const bool seen = facts.childExitCode == static_cast<std::uint32_t>(kChildSawItHeld);
  return {name, seen ? Verdict::kPass : Verdict::kFail, "taken; " + childText(facts),
          seen ? "a second run is kept out" : "a second run would not be kept out"};
}

}  // namespace argb::fieldcheck
