#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/linux/LinuxConsole.h"
#include "platform/linux/LinuxOsServices.h"
#include "platform/linux/LinuxRunLock.h"
#include "platform/linux/LinuxSleeper.h"
#include "platform/linux/LinuxWritePhaseGuard.h"

namespace argb::platform {

// The Linux services for the running program: the console on standard input and output.
class LinuxPlatform final : public Platform {
 public:
  // `systemDirectory`: absolute directory that plays the Windows system directory;
  // `lockDirectory`: absolute directory of the one-run-at-a-time lock file.
  LinuxPlatform(std::string systemDirectory, std::string lockDirectory);

  OsServices& os() override { return os_; }
  Console& console() override { return console_; }
  Sleeper& sleeper() override { return sleeper_; }
  RunLock& runLock() override { return runLock_; }
  WritePhaseGuard& writePhaseGuard() override { return writePhaseGuard_; }

 private:
  LinuxOsServices os_;
  LinuxConsole console_;
  LinuxSleeper sleeper_;
  LinuxRunLock runLock_;
  LinuxWritePhaseGuard writePhaseGuard_;
};

}  // namespace argb::platform
