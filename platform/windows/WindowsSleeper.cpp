#include "platform/windows/WindowsSleeper.h"

namespace argb::platform {

void WindowsSleeper::sleep(std::uint32_t milliseconds) {
  precise_.sleep(milliseconds);
}

}  // namespace argb::platform
