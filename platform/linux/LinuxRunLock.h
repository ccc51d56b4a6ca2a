#pragma once

#include <string>

#include "platform/RunLock.h"

namespace argb::platform {

// The one-run-at-a-time lock as an flock on a file in a fixed directory. The file is created when
// missing; the directory must exist. The descriptor stays open to the end of the process, and the
// kernel drops the lock with it, however the process ends.
class LinuxRunLock final : public RunLock {
 public:
  static constexpr const char* kFileName = "argb-fw-updater.lock";

  // `directory`: absolute directory that holds the lock file.
  explicit LinuxRunLock(std::string directory);
  ~LinuxRunLock() override;

  LinuxRunLock(const LinuxRunLock&) = delete;
  LinuxRunLock& operator=(const LinuxRunLock&) = delete;

  Result take() override;

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace argb::platform
