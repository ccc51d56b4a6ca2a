#include "emulator/IapFrames.h"

#include <array>
#include <cstring>

#include "emulator/Crc16.h"
#include "emulator/Hex.h"
#include "emulator/ImageArea.h"

namespace argb::emulator {

namespace {

constexpr std::uint8_t kParameterBlockTag = static_cast<std::uint8_t>(kParameterBlockLength);
constexpr std::size_t kParameterCrcOffset = 2;

template <typename T>
Decoded<T> refuse(std::string why) {
  return Decoded<T>{std::nullopt, std::move(why)};
}

bool takesParameters(std::uint8_t code) {
  return code == static_cast<std::uint8_t>(IapCommand::Erase) ||
         code == static_cast<std::uint8_t>(IapCommand::Program) ||
         code == static_cast<std::uint8_t>(IapCommand::CheckCrc);
}

std::optional<std::string> checkHeader(std::span<const std::uint8_t> frame) {
  std::uint8_t code = frame[0];
  if (code < 1 || code > 5) return "unknown command code " + hexNumber(code);
  if (frame[1] != kHeaderMarker || frame[2] != static_cast<std::uint8_t>(code ^ 0xFF) ||
      frame[3] != kHeaderTrailer) {
    return "bad command header " + hexBytes(frame.first(kHeaderLength));
  }
  return std::nullopt;
}

Decoded<FlashRange> decodeParameters(std::span<const std::uint8_t> block) {
  if (block[0] != kParameterBlockTag) {
    return refuse<FlashRange>("parameter block length byte " + hexNumber(block[0]));
  }
  if (block[1] != 0) return refuse<FlashRange>("parameter block byte 1 is " + hexNumber(block[1]));
  std::array<std::uint8_t, kParameterBlockLength> zeroed;
  std::memcpy(zeroed.data(), block.data(), zeroed.size());
  zeroed[kParameterCrcOffset] = 0;
  zeroed[kParameterCrcOffset + 1] = 0;
  std::uint16_t expected = crc16(zeroed);
  std::uint16_t stored = readLe16(block, kParameterCrcOffset);
  if (stored != expected) {
    return refuse<FlashRange>("parameter block CRC " + hexNumber(stored) + ", should be " +
                              hexNumber(expected));
  }
  FlashRange range{readLe32(block, 4), readLe32(block, 8)};
  if (range.first < kApplicationStart || range.last > kApplicationEnd || range.first > range.last) {
    return refuse<FlashRange>("range " + hexNumber(range.first) + ".." + hexNumber(range.last) +
                              " outside 0x1800..0xffff");
  }
  return {range, {}};
}

}  // namespace

std::uint16_t readLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t readLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

Decoded<DecodedCommand> decodeCommand(std::span<const std::uint8_t> frame) {
  if (frame.size() != kHeaderLength && frame.size() != kCommandFrameLength) {
    return refuse<DecodedCommand>("a command frame of " + std::to_string(frame.size()) + " bytes");
  }
  if (auto problem = checkHeader(frame)) return refuse<DecodedCommand>(*problem);
  std::uint8_t code = frame[0];
  DecodedCommand command{static_cast<IapCommand>(code), std::nullopt};
  if (frame.size() == kHeaderLength) {
    if (takesParameters(code)) {
      return refuse<DecodedCommand>("command " + std::to_string(code) + " without parameters");
    }
    return {command, {}};
  }
  if (!takesParameters(code)) {
    return refuse<DecodedCommand>("command " + std::to_string(code) + " with parameters");
  }
  auto range = decodeParameters(frame.subspan(kHeaderLength));
  if (!range.value) return refuse<DecodedCommand>(range.refusal);
  command.range = range.value;
  return {command, {}};
}

Decoded<std::span<const std::uint8_t>> decodeDataBlock(std::span<const std::uint8_t> frame) {
  using Payload = std::span<const std::uint8_t>;
  if (frame.size() != kDataBlockLength) {
    return refuse<Payload>("expected a data block, got " + std::to_string(frame.size()) + " bytes");
  }
  Payload payload = frame.first(kPayloadLength);
  std::uint16_t stored = readLe16(frame, kPayloadLength);
  std::uint16_t actual = crc16(payload);
  if (stored != actual) {
    return refuse<Payload>("data block CRC " + hexNumber(stored) + ", payload has " +
                           hexNumber(actual));
  }
  return {payload, {}};
}

Decoded<std::uint16_t> decodeExpectedCrc(std::span<const std::uint8_t> frame) {
  if (frame.size() != kExpectedCrcLength) {
    return refuse<std::uint16_t>("expected the 2-byte CRC, got " + std::to_string(frame.size()) +
                                 " bytes");
  }
  return {readLe16(frame, 0), {}};
}

}  // namespace argb::emulator
