#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/linux/LinuxConsole.h"
#include "platform/linux/LinuxOsServices.h"
#include "platform/linux/LinuxSleeper.h"

namespace argb::platform {

// The Linux services for the running program: the console on standard input and output.
class LinuxPlatform final : public Platform {
 public:
  // `systemDirectory`: absolute directory that plays the Windows system directory.
  explicit LinuxPlatform(std::string systemDirectory);

  OsServices& os() override { return os_; }
  Console& console() override { return console_; }
  Sleeper& sleeper() override { return sleeper_; }

 private:
  LinuxOsServices os_;
  LinuxConsole console_;
  LinuxSleeper sleeper_;
};

}  // namespace argb::platform
