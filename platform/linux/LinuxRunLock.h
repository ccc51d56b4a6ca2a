#pragma once

#include <string>

#include "platform/RunLock.h"

namespace argb::platform {

// The one-run-at-a-time lock as an flock on a file in a fixed directory. The file is created when
// missing; the directory must exist. The descriptor stays open to the end of the process, and the
// kernel drops the lock with it, however the process ends. Nobody else may be able to swap the file
// while a run holds it: a directory that other users can write must be sticky, and the file there
// this user's or root's; a file with a second name is refused, and one found already there is
// never changed.
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
  std::string directory_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace argb::platform
