#include "platform/windows/WindowsSleeper.h"

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

void WindowsSleeper::sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace argb::platform
