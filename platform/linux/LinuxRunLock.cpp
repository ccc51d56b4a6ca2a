#include "platform/linux/LinuxRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace argb::platform {
namespace {

// Readable by everyone (as far as the umask allows), so that a run by another user meets the same
// lock: it opens the file for reading only, which is all flock needs.
constexpr mode_t kLockFileMode = 0666;

std::string describe(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

}  // namespace

LinuxRunLock::LinuxRunLock(std::string directory) : path_(std::move(directory) + "/" + kFileName) {}

LinuxRunLock::~LinuxRunLock() {
  if (fd_ >= 0) ::close(fd_);
}

RunLock::Result LinuxRunLock::take() {
  if (fd_ >= 0) return {Outcome::kTaken, {}};
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, kLockFileMode);
  if (fd < 0) return {Outcome::kFailed, describe(path_, errno)};
  int status = 0;
  do {
    status = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (status != 0 && errno == EINTR);
  if (status != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return {Outcome::kHeldByAnotherRun, {}};
    return {Outcome::kFailed, describe(path_, error)};
  }
  fd_ = fd;
  return {Outcome::kTaken, {}};
}

}  // namespace argb::platform
