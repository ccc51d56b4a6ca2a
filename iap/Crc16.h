#pragma once

#include <cstddef>
#include <cstdint>

namespace argb::iap {

// CRC-16/XMODEM (polynomial 0x1021, initial 0, not reflected, no final XOR), as the loader checks
// it. Goes on the bus low byte first.
std::uint16_t crc16(const std::uint8_t* data, std::size_t count);

}  // namespace argb::iap
