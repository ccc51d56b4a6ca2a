#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace argb::emulator {

// The loader's frame formats, as the device reads them.
inline constexpr std::size_t kHeaderLength = 4;
inline constexpr std::size_t kParameterBlockLength = 12;
inline constexpr std::size_t kCommandFrameLength = kHeaderLength + kParameterBlockLength;
inline constexpr std::size_t kPayloadLength = 128;
inline constexpr std::size_t kDataBlockLength = kPayloadLength + 2;
inline constexpr std::size_t kExpectedCrcLength = 2;

inline constexpr std::uint8_t kHeaderMarker = 0x81;
inline constexpr std::uint8_t kHeaderTrailer = 0x7E;

enum class IapCommand : std::uint8_t { Start = 1, Exit = 2, Erase = 3, Program = 4, CheckCrc = 5 };

struct FlashRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;  // inclusive
  std::uint32_t span() const { return last - first + 1; }
  std::uint32_t blockCount() const {
    return (span() + static_cast<std::uint32_t>(kPayloadLength) - 1) / kPayloadLength;
  }
};

struct DecodedCommand {
  IapCommand command = IapCommand::Start;
  std::optional<FlashRange> range;  // present for the 16-byte command frames
};

// Either what a frame says or why the device refuses it.
template <typename T>
struct Decoded {
  std::optional<T> value;
  std::string refusal;
};

// A 4-byte command header (codes 1 and 2) or a 16-byte command frame (codes 3, 4 and 5) with a
// valid parameter block whose range lies inside the application area 0x1800..0xFFFF.
Decoded<DecodedCommand> decodeCommand(std::span<const std::uint8_t> frame);

// A 130-byte data block whose CRC matches its payload; the value is the payload.
Decoded<std::span<const std::uint8_t>> decodeDataBlock(std::span<const std::uint8_t> frame);

// The 2-byte expected-CRC frame.
Decoded<std::uint16_t> decodeExpectedCrc(std::span<const std::uint8_t> frame);

std::uint16_t readLe16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t readLe32(std::span<const std::uint8_t> bytes, std::size_t offset);

}  // namespace argb::emulator
