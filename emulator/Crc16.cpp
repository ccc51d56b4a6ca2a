#include "emulator/Crc16.h"

#include <array>

namespace argb::emulator {

namespace {

constexpr std::uint16_t kPolynomial = 0x1021;

// The register after shifting each byte value through it, so that the device's image check over
// up to 59 KiB of flash takes one step per byte rather than eight.
constexpr std::array<std::uint16_t, 256> kTable = [] {
  std::array<std::uint16_t, 256> table{};
  for (unsigned value = 0; value < table.size(); ++value) {
    auto crc = static_cast<std::uint16_t>(value << 8);
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if (carry) crc ^= kPolynomial;
    }
    table[value] = crc;
  }
  return table;
}();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[(crc >> 8) ^ byte]);
  }
  return crc;
}

}  // namespace argb::emulator
