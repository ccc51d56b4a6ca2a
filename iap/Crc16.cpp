#include "iap/Crc16.h"

namespace argb::iap {

namespace {

constexpr std::uint16_t kPolynomial = 0x1021;
constexpr std::uint16_t kTopBit = 0x8000;

}  // namespace

// Bitwise on purpose: a few kilobytes per update do not justify a table.
std::uint16_t crc16(const std::uint8_t* data, std::size_t count) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & kTopBit) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if (carry) {
        crc = static_cast<std::uint16_t>(crc ^ kPolynomial);
      }
    }
  }
  return crc;
}

}  // namespace argb::iap
