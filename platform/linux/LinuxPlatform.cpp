#include "platform/linux/LinuxPlatform.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

namespace argb::platform {

LinuxPlatform::LinuxPlatform(std::string systemDirectory)
    : os_(std::move(systemDirectory)), console_(STDIN_FILENO, stdout) {}

std::unique_ptr<Platform> createSystemPlatform() {
  // Fixed when the build is configured: the program reads no settings or environment.
  return std::make_unique<LinuxPlatform>(ARGB_SYSTEM_DIR);
}

}  // namespace argb::platform
