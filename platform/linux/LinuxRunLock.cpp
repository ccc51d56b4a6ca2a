#include "platform/linux/LinuxRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace argb::platform {
namespace {

// Readable by everyone, so that a run by another user meets the same lock: it opens the file for
// reading only, which is all flock needs.
constexpr mode_t kLockFileMode = 0666;
constexpr mode_t kReadableByAll = 0444;

// The directory may be writable by others: a symbolic link left at the path must not make this run
// (perhaps root) create or lock its target, and a FIFO must not hang the open.
constexpr int kOpenFlags = O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

constexpr const char* kNotARegularFile = "not a regular file";

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
  const int fd = ::open(path_.c_str(), kOpenFlags, kLockFileMode);
  if (fd < 0) return {Outcome::kFailed, describe(path_, errno)};
  struct stat file {};
  const bool examined = ::fstat(fd, &file) == 0;
  if (!examined || !S_ISREG(file.st_mode)) {
    // A FIFO or a device opens without an error of its own; it is still no lock file.
    const std::string cause = examined ? path_ + ": " + kNotARegularFile : describe(path_, errno);
    ::close(fd);
    return {Outcome::kFailed, cause};
  }
  // Made by this user under a strict umask (root's is often 077), the file would lock every other
  // user out instead of showing them the running update.
  if (file.st_uid == ::geteuid() && (file.st_mode & kReadableByAll) != kReadableByAll)
    ::fchmod(fd, (file.st_mode & 07777) | kReadableByAll);
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
