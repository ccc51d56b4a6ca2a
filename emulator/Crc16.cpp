#include "emulator/Crc16.h"

namespace argb::emulator {

namespace {
constexpr std::uint16_t kPolynomial = 0x1021;
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
    for (int bit = 0; bit < 8; ++bit) {
      bool carry = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if (carry) crc ^= kPolynomial;
    }
  }
  return crc;
}

}  // namespace argb::emulator
