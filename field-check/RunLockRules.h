#pragma once

#include <optional>
#include <string>

#include "field-check/CheckResult.h"
#include "platform/RunLock.h"

namespace argb::fieldcheck {

// The lock is a mutex, which belongs to the thread that took it: a second thread of the check that
// asks for it sees it as a second run would, and no second copy of the program has to be started
// by a path that someone could swap in the meantime.
struct RunLockFacts {
  platform::RunLock::Result own{platform::RunLock::Outcome::kFailed, {}};
  // What the second thread's take() gave, or nullopt with the reason it could not run.
  std::optional<platform::RunLock::Outcome> second;
  std::string secondError;
};
CheckResult judgeRunLock(const RunLockFacts& facts);

}  // namespace argb::fieldcheck
