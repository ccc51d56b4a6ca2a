#include "platform/linux/LinuxPlatform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace argb::platform {

LinuxPlatform::LinuxPlatform(std::string systemDirectory, std::string lockDirectory)
    : os_(std::move(systemDirectory)),
      console_(STDIN_FILENO, stdout),
      runLock_(std::move(lockDirectory)) {}

namespace {

// A program started with standard output or error closed would get one of their numbers for the
// next file it opens, the lock file, and write its texts into it. /dev/null fills each gap first.
void keepStandardDescriptorsOpen() {
  for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one. Without /dev/null (a bare chroot)
    // the texts may end up in the lock file, which nothing reads: a nuisance, not a fault.
    ::open("/dev/null", O_RDWR);
  }
}

}  // namespace

std::unique_ptr<Platform> createSystemPlatform() {
  keepStandardDescriptorsOpen();
  // Fixed when the build is configured: the program reads no settings or environment.
  return std::make_unique<LinuxPlatform>(ARGB_SYSTEM_DIR, ARGB_LOCK_DIR);
}

}  // namespace argb::platform
