#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "i2c/I2cBus.h"
#include "iap/IapResult.h"
#include "platform/Sleeper.h"

namespace argb::iap {

// Sends the frames of one operation to one bus address, each as a single write followed by the
// acknowledgement wait. Made when the operation starts, so it holds that operation's copy of the
// budget.
class FrameSender {
 public:
  FrameSender(i2c::I2cBus& bus, platform::Sleeper& sleeper, std::uint32_t address,
              std::uint32_t budget);

  // 0 when written and acknowledged, 5 when the write failed (nothing polled), 1 when budget + 2
  // polls went unanswered.
  IapResult send(const std::uint8_t* data, std::uint32_t length);

  template <std::size_t N>
  IapResult send(const std::array<std::uint8_t, N>& frame) {
    return send(frame.data(), static_cast<std::uint32_t>(N));
  }

 private:
  i2c::I2cBus& bus_;
  platform::Sleeper& sleeper_;
  std::uint32_t address_;
  std::uint32_t budget_;
};

}  // namespace argb::iap
