#pragma once

#include "platform/TimerServices.h"

namespace argb::platform {

class WindowsTimerServices final : public TimerServices {
 public:
  TimerHandle createHighResolutionTimer() override;
  bool waitTimer(TimerHandle timer, std::uint32_t milliseconds) override;
  void closeTimer(TimerHandle timer) override;
  bool beginTimerPeriod(std::uint32_t milliseconds) override;
  void endTimerPeriod(std::uint32_t milliseconds) override;
  void sleep(std::uint32_t milliseconds) override;
};

}  // namespace argb::platform
