#include "field-check/RunLockRules.h"

namespace argb::fieldcheck {
namespace {

using Outcome = platform::RunLock::Outcome;

std::string secondText(const RunLockFacts& facts) {
  if (!facts.second) return "the second thread did not run: " + facts.secondError;
  switch (*facts.second) {
    case Outcome::kHeldByAnotherRun:
      return "a second thread saw it held";
    case Outcome::kTaken:
      return "a second thread took it too";
    case Outcome::kFailed:
      break;
  }
  return "a second thread could not ask for it";
}

}  // namespace

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
  const bool seen = facts.second == Outcome::kHeldByAnotherRun;
  return {name, seen ? Verdict::kPass : Verdict::kFail, "taken; " + secondText(facts),
          seen ? "a second run is kept out" : "a second run would not be kept out"};
}

}  // namespace argb::fieldcheck
