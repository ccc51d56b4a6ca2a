#include "platform/linux/LinuxSleeper.h"

#include <chrono>
#include <thread>

namespace argb::platform {

void LinuxSleeper::sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace argb::platform
