#pragma once

#include "platform/Sleeper.h"

namespace argb::platform {

class WindowsSleeper final : public Sleeper {
 public:
  void sleep(std::uint32_t milliseconds) override;
};

}  // namespace argb::platform
