#pragma once

#include <cstdint>

namespace argb::platform {

// Plain sleeping (Sleep). Every pause of the updater goes through here so tests can record it.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace argb::platform
