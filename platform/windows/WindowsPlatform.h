#pragma once

#include "platform/Platform.h"
#include "platform/windows/WindowsConsole.h"
#include "platform/windows/WindowsOsServices.h"
#include "platform/windows/WindowsSleeper.h"

namespace argb::platform {

class WindowsPlatform final : public Platform {
 public:
  OsServices& os() override { return os_; }
  Console& console() override { return console_; }
  Sleeper& sleeper() override { return sleeper_; }

 private:
  WindowsOsServices os_;
  WindowsConsole console_;
  WindowsSleeper sleeper_;
};

}  // namespace argb::platform
