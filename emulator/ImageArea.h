#pragma once

#include <cstdint>
#include <string>

#include "emulator/FlashModel.h"

namespace argb::emulator {

// Where the application lives in flash and how the loader recognises a complete image.
inline constexpr std::uint32_t kApplicationStart = 0x1800;
inline constexpr std::uint32_t kApplicationEnd = kFlashLastAddress;
inline constexpr std::uint32_t kInformationBlockAddress = 0x1820;
inline constexpr std::uint32_t kInformationBlockLength = 8;
// The image CRC covers everything after the information block.
inline constexpr std::uint32_t kVerifiedStart = kInformationBlockAddress + kInformationBlockLength;
inline constexpr std::uint16_t kInformationBlockMarker = 0x1A0C;

struct InformationBlock {
  std::uint16_t crc = 0;
  std::uint16_t marker = 0;
  std::uint32_t length = 0;
};

struct ImageCheck {
  bool valid = false;
  InformationBlock block;
  std::uint32_t verifiedEnd = 0;  // last address the block's length covers (when in flash)
  std::uint16_t actualCrc = 0;    // CRC of kVerifiedStart..verifiedEnd (when in flash)
  std::string problem;            // why the image is not valid; empty when it is
};

InformationBlock readInformationBlock(const FlashModel& flash);

// Valid: marker 0x1A0C, a length of at least one byte that ends inside flash, and a CRC of
// flash[0x1828 .. 0x1828 + length - 1] equal to the block's CRC.
ImageCheck checkImage(const FlashModel& flash);

}  // namespace argb::emulator
