#include "platform/linux/LinuxPlatform.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace argb::platform {

LinuxPlatform::LinuxPlatform(std::string systemDirectory, std::string lockDirectory)
    : os_(std::move(systemDirectory)),
      console_(STDIN_FILENO, stdout),
      runLock_(std::move(lockDirectory)) {}

std::unique_ptr<Platform> createSystemPlatform() {
  // Fixed when the build is configured: the program reads no settings or environment.
  return std::make_unique<LinuxPlatform>(ARGB_SYSTEM_DIR, ARGB_LOCK_DIR);
}

}  // namespace argb::platform
