#include "platform/windows/WindowsPlatform.h"

namespace argb::platform {

std::unique_ptr<Platform> createSystemPlatform() {
  return std::make_unique<WindowsPlatform>();
}

}  // namespace argb::platform
