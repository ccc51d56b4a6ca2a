#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace argb::emulator {

inline constexpr std::uint32_t kFlashSize = 0x10000;
inline constexpr std::uint32_t kFlashLastAddress = kFlashSize - 1;
inline constexpr std::uint8_t kErasedByte = 0xFF;

// The controller's 64 KiB of flash. Like real flash, erasing sets bytes to 0xFF and programming can
// only clear bits: programming over written bytes ANDs the new value into them.
class FlashModel {
 public:
  FlashModel() { bytes_.fill(kErasedByte); }

  // Ranges are inclusive; addresses past the end of flash are ignored.
  void erase(std::uint32_t first, std::uint32_t last);
  void program(std::uint32_t address, std::span<const std::uint8_t> data);
  // A fault, not a flash operation: may set a bit as well as clear it.
  void invertBit(std::uint32_t address, unsigned bit);

  std::uint8_t at(std::uint32_t address) const { return bytes_.at(address); }
  std::span<const std::uint8_t> range(std::uint32_t first, std::uint32_t last) const;
  std::span<const std::uint8_t> all() const { return bytes_; }
  std::span<std::uint8_t> all() { return bytes_; }

  bool operator==(const FlashModel&) const = default;

 private:
  std::array<std::uint8_t, kFlashSize> bytes_;
};

}  // namespace argb::emulator
