#pragma once

#include <string>

namespace argb::platform {

// The machine-wide lock that keeps to one update at a time: two runs would interleave their frames
// on the one bus. Once taken it is held until the process ends; the operating system releases it
// when the process dies.
class RunLock {
 public:
  enum class Outcome { kTaken, kHeldByAnotherRun, kFailed };
  struct Result {
    Outcome outcome;
    // What stopped it, for kFailed: the lock's name and the system's reason.
    std::string cause;
  };

  virtual ~RunLock() = default;
  virtual Result take() = 0;
};

}  // namespace argb::platform
