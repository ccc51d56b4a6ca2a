#include "emulator/FlashModel.h"

#include <algorithm>

namespace argb::emulator {

void FlashModel::erase(std::uint32_t first, std::uint32_t last) {
  if (first > last || first > kFlashLastAddress) return;
  last = std::min(last, kFlashLastAddress);
  std::fill(bytes_.begin() + first, bytes_.begin() + last + 1, kErasedByte);
}

void FlashModel::program(std::uint32_t address, std::span<const std::uint8_t> data) {
  for (std::uint8_t byte : data) {
    if (address > kFlashLastAddress) return;
    bytes_[address++] &= byte;
  }
}

void FlashModel::invertBit(std::uint32_t address, unsigned bit) {
  if (address > kFlashLastAddress || bit > 7) return;
  bytes_[address] ^= static_cast<std::uint8_t>(1u << bit);
}

std::span<const std::uint8_t> FlashModel::range(std::uint32_t first, std::uint32_t last) const {
  if (first > last || first > kFlashLastAddress) return {};
  last = std::min(last, kFlashLastAddress);
  return std::span<const std::uint8_t>(bytes_).subspan(first, last - first + 1);
}

}  // namespace argb::emulator
