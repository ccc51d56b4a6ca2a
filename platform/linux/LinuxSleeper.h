#pragma once

#include "platform/Sleeper.h"

namespace argb::platform {

// Blocks the calling thread for the whole pause; never spins.
class LinuxSleeper final : public Sleeper {
 public:
  void sleep(std::uint32_t milliseconds) override;
};

}  // namespace argb::platform
