#pragma once

#include <functional>
#include <string>

#include "platform/RunLock.h"

namespace argb::platform {

// The one-run-at-a-time lock as an flock on a file in a fixed directory. The file is created when
// missing; the directory must exist. The descriptor stays open to the end of the process, and the
// kernel drops the lock with it, however the process ends. Only this user and root may be able to
// swap the file while a run holds it: the directory must be this user's or root's, and if others
// can write to it, sticky with the file this user's or root's; a file with a second name is
// refused, and one found already there is never changed. After flock the name must still lead to
// the locked file (device and inode), else another run could lock the new file beside this one.
class LinuxRunLock final : public RunLock {
 public:
  static constexpr const char* kFileName = "argb-fw-updater.lock";

  // `directory`: absolute directory that holds the lock file. `beforeLock` runs between the open
  // and the flock, where tests swap the file.
  explicit LinuxRunLock(std::string directory, std::function<void()> beforeLock = {});
  ~LinuxRunLock() override;

  LinuxRunLock(const LinuxRunLock&) = delete;
  LinuxRunLock& operator=(const LinuxRunLock&) = delete;

  Result take() override;

 private:
  std::string directory_;
  std::string path_;
  std::function<void()> beforeLock_;
  int fd_ = -1;
};

}  // namespace argb::platform
