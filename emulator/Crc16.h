#pragma once

#include <cstdint>
#include <span>

namespace argb::emulator {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected, no final XOR. The device keeps
// its own copy so that a fault in the updater's CRC cannot cancel out against the same fault here.
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

}  // namespace argb::emulator
