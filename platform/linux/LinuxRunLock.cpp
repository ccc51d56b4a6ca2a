#include "platform/linux/LinuxRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

namespace argb::platform {
namespace {

// Readable by everyone, so that a run by another user meets the same lock: it opens the file for
// reading only, which is all flock needs. Writable by its owner alone: the kernel lets a user
// hard-link a file they may write, and a second name has the owner's next run refuse the file.
constexpr mode_t kLockFileMode = 0644;
constexpr mode_t kReadableByAll = 0444;

// The directory may be writable by others: a symbolic link left at the path must not make this run
// (perhaps root) create or lock its target, and a FIFO must not hang the open. O_EXCL first, so
// that this run knows whether the file is its own to change.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
constexpr int kCreateFlags = kOpenFlags | O_CREAT | O_EXCL;

constexpr const char* kNotARegularFile = "not a regular file";
constexpr const char* kHardLink =
    "the file has another name too (a hard link), so it may be some other file";
constexpr const char* kOpenDirectory =
    "other users can write to this directory and its sticky bit is not set, so they could "
    "replace the lock file";
constexpr const char* kOthersDirectory =
    "the directory belongs to another user, who could replace the lock file";
constexpr const char* kOthersFile =
    "the file belongs to another user, who could replace it while this run holds it; no update "
    "holds it now, so remove this file and start this program again";
constexpr const char* kReplaced = "the file was replaced while this run was locking it";

// A path may name the file that is locked and still be swapped later; two tries are enough unless
// someone keeps swapping it, which is itself a reason to stop.
constexpr int kTries = 2;

std::string describe(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Root can bend any lock anyway; this user is the one asking.
bool trusted(uid_t owner) {
  return owner == ::geteuid() || owner == 0;
}

// Others may add, remove and rename names in it; the sticky bit narrows that to their own files.
bool writableByOthers(const struct stat& directory) {
  return (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

int lockNow(int fd, int operation) {
  int status = 0;
  do {
    status = ::flock(fd, operation | LOCK_NB);
  } while (status != 0 && errno == EINTR);
  return status;
}

// Refused either way, but a run that holds it is what its user needs to hear. A shared lock asks
// without taking: two runs asking at once do not see each other as a running update.
RunLock::Result othersFile(int fd, const std::string& path) {
  if (lockNow(fd, LOCK_SH) == 0) return {RunLock::Outcome::kFailed, path + ": " + kOthersFile};
  if (errno == EWOULDBLOCK) return {RunLock::Outcome::kHeldByAnotherRun, {}};
  return {RunLock::Outcome::kFailed, describe(path, errno)};
}

}  // namespace

LinuxRunLock::LinuxRunLock(std::string directory, std::function<void()> beforeLock)
    : directory_(std::move(directory)),
      path_(directory_ + "/" + kFileName),
      beforeLock_(std::move(beforeLock)) {}

LinuxRunLock::~LinuxRunLock() {
  if (fd_ >= 0) ::close(fd_);
}

RunLock::Result LinuxRunLock::take() {
  if (fd_ >= 0) return {Outcome::kTaken, {}};
  // Every step works relative to this one directory, the one whose rights were judged.
  const Descriptor directory(::open(directory_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat place {};
  if (directory.get() < 0 || ::fstat(directory.get(), &place) != 0)
    return {Outcome::kFailed, describe(path_, errno)};
  // Checked before anything is made there: a refused directory is left as it was. Its owner may
  // rename or remove any name in it, sticky or not.
  if (!trusted(place.st_uid)) return {Outcome::kFailed, directory_ + ": " + kOthersDirectory};
  const bool shared = writableByOthers(place);
  if (shared && (place.st_mode & S_ISVTX) == 0)
    return {Outcome::kFailed, directory_ + ": " + kOpenDirectory};
  for (int attempt = 1;; ++attempt) {
    int fd = ::openat(directory.get(), kFileName, kCreateFlags, kLockFileMode);
    const bool created = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::openat(directory.get(), kFileName, kOpenFlags);
    if (fd < 0) {
      // Removed between the two opens: the next try makes it.
      if (errno == ENOENT && attempt < kTries) continue;
      return {Outcome::kFailed, describe(path_, errno)};
    }
    Descriptor file(fd);
    struct stat locked {};
    if (::fstat(file.get(), &locked) != 0) return {Outcome::kFailed, describe(path_, errno)};
    // A FIFO or a device opens without an error of its own; it is still no lock file.
    if (!S_ISREG(locked.st_mode)) return {Outcome::kFailed, path_ + ": " + kNotARegularFile};
    if (locked.st_nlink > 1) return {Outcome::kFailed, path_ + ": " + kHardLink};
    // In a sticky directory only the file's owner (or root) may remove it.
    if (shared && !trusted(locked.st_uid)) return othersFile(file.get(), path_);
    // Made by this user under a strict umask (root's is often 077), the file would lock every other
    // user out instead of showing them the running update. Only the file this open made is
    // changed: one that was there may be another file under this name.
    if (created && (locked.st_mode & kReadableByAll) != kReadableByAll)
      ::fchmod(file.get(), (locked.st_mode & 07777) | kReadableByAll);
    if (beforeLock_) beforeLock_();
    if (lockNow(file.get(), LOCK_EX) != 0) {
      if (errno == EWOULDBLOCK) return {Outcome::kHeldByAnotherRun, {}};
      return {Outcome::kFailed, describe(path_, errno)};
    }
    // Removed and made again between the open and the lock, the path names a file that another
    // run would lock beside this one.
    struct stat named {};
    if (::fstatat(directory.get(), kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
      fd_ = file.release();
      return {Outcome::kTaken, {}};
    }
    if (attempt >= kTries) return {Outcome::kFailed, path_ + ": " + kReplaced};
  }
}

}  // namespace argb::platform
