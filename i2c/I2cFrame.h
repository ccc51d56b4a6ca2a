#pragma once

#include <cstdint>

namespace argb::i2c {

// 8-bit bus forms of the controller's addresses (7-bit address shifted left by one).
inline constexpr std::uint32_t kApplicationAddress = 0xC0;
inline constexpr std::uint32_t kApplicationReadAddress = 0xC1;
inline constexpr std::uint32_t kLoaderAddress = 0x44;

// The largest frame i2cWrite carries (its transfer buffer).
inline constexpr std::uint32_t kMaxFrameLength = 1024;

// One outgoing transfer to the controller; it does not own its bytes.
struct I2cFrame {
  std::uint32_t deviceAddress;
  const std::uint8_t* data;
  std::uint32_t length;
};

}  // namespace argb::i2c
