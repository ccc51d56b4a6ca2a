#pragma once

#include "platform/RunLock.h"

namespace argb::platform {

// The one-run-at-a-time lock as a named mutex in the Global namespace, so runs in every session of
// the machine meet it. Windows releases it when the process ends; a mutex left by a process that
// died counts as free.
class WindowsRunLock final : public RunLock {
 public:
  WindowsRunLock() = default;
  ~WindowsRunLock() override;

  WindowsRunLock(const WindowsRunLock&) = delete;
  WindowsRunLock& operator=(const WindowsRunLock&) = delete;

  Result take() override;

 private:
  void* mutex_ = nullptr;
  bool owned_ = false;
};

}  // namespace argb::platform
