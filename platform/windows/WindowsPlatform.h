#pragma once

#include "platform/Platform.h"
#include "platform/windows/WindowsConsole.h"
#include "platform/windows/WindowsOsServices.h"
#include "platform/windows/WindowsRunLock.h"
#include "platform/windows/WindowsSleeper.h"
#include "platform/windows/WindowsWritePhaseGuard.h"

namespace argb::platform {

class WindowsPlatform final : public Platform {
 public:
  OsServices& os() override { return os_; }
  Console& console() override { return console_; }
  Sleeper& sleeper() override { return sleeper_; }
  RunLock& runLock() override { return runLock_; }
  WritePhaseGuard& writePhaseGuard() override { return writePhaseGuard_; }
  void loadSystemLibrariesWith(SystemLibraryLoader& loader) override {
    sleeper_.loadSystemLibrariesWith(loader);
    writePhaseGuard_.loadSystemLibrariesWith(loader);
  }

 private:
  WindowsOsServices os_;
  WindowsConsole console_;
  WindowsSleeper sleeper_;
  WindowsRunLock runLock_;
  WindowsWritePhaseGuard writePhaseGuard_;
};

}  // namespace argb::platform
