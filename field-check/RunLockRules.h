#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "field-check/CheckResult.h"
#include "platform/RunLock.h"

namespace argb::fieldcheck {

// The argument that makes the check a child that only tries the lock and exits with what it saw.
constexpr char kRunLockProbeArgument[] = "--run-lock-probe";

// The child's exit code for what its take() gave, and back.
int runLockProbeExitCode(platform::RunLock::Outcome outcome);

struct RunLockFacts {
  platform::RunLock::Result own{platform::RunLock::Outcome::kFailed, {}};
  // The child's exit code, or nullopt with the reason it could not be run.
  std::optional<std::uint32_t> childExitCode;
  std::string childError;
};
CheckResult judgeRunLock(const RunLockFacts& facts);

}  // namespace argb::fieldcheck
