#include "emulator/ImageArea.h"

#include "emulator/Crc16.h"
#include "emulator/Hex.h"

namespace argb::emulator {

InformationBlock readInformationBlock(const FlashModel& flash) {
  auto byte = [&](std::uint32_t offset) -> std::uint32_t {
    return flash.at(kInformationBlockAddress + offset);
  };
  InformationBlock block;
  block.crc = static_cast<std::uint16_t>(byte(0) | byte(1) << 8);
  block.marker = static_cast<std::uint16_t>(byte(2) | byte(3) << 8);
  block.length = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
  return block;
}

ImageCheck checkImage(const FlashModel& flash) {
  ImageCheck check;
  check.block = readInformationBlock(flash);
  if (check.block.marker != kInformationBlockMarker) {
    check.problem = "information block marker " + hexNumber(check.block.marker);
    return check;
  }
  if (check.block.length == 0 || check.block.length > kFlashSize - kVerifiedStart) {
    check.problem = "information block length " + std::to_string(check.block.length);
    return check;
  }
  check.verifiedEnd = kVerifiedStart + check.block.length - 1;
  check.actualCrc = crc16(flash.range(kVerifiedStart, check.verifiedEnd));
  if (check.actualCrc != check.block.crc) {
    check.problem = "image CRC " + hexNumber(check.actualCrc) + ", information block says " +
                    hexNumber(check.block.crc);
    return check;
  }
  check.valid = true;
  return check;
}

}  // namespace argb::emulator
