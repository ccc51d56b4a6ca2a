#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace argb::iap {

// Command codes of the loader.
enum class IapCommand : std::uint8_t {
  kStart = 1,
  kExit = 2,
  kErase = 3,
  kWrite = 4,
  kCheckCrc = 5,
};

inline constexpr std::size_t kCommandHeaderSize = 4;
inline constexpr std::size_t kParameterBlockSize = 12;
inline constexpr std::size_t kCommandFrameSize = kCommandHeaderSize + kParameterBlockSize;
inline constexpr std::size_t kDataBlockPayload = 128;
inline constexpr std::size_t kDataBlockSize = kDataBlockPayload + 2;
inline constexpr std::size_t kInformationBlockSize = 8;
inline constexpr std::size_t kExpectedCrcFrameSize = 2;

// Payload bytes that carry nothing (past the image, after the information block) get the erased
// value, so they program as no change.
inline constexpr std::uint8_t kErasedByte = 0xFF;

// Fixed tag in the information block, between its CRC and its length.
inline constexpr std::uint16_t kInformationBlockTag = 0x1A0C;

using CommandHeader = std::array<std::uint8_t, kCommandHeaderSize>;
using CommandFrame = std::array<std::uint8_t, kCommandFrameSize>;
using DataBlock = std::array<std::uint8_t, kDataBlockSize>;
using InformationBlock = std::array<std::uint8_t, kInformationBlockSize>;
using ExpectedCrcFrame = std::array<std::uint8_t, kExpectedCrcFrameSize>;

// code, 0x81, code XOR 0xFF, 0x7E: the whole frame of start and exit.
CommandHeader buildCommandHeader(IapCommand code);

// Header plus the parameter block for the flash range start..end (inclusive), the block's CRC
// computed with its own field zero.
CommandFrame buildCommandFrame(IapCommand code, std::uint32_t start, std::uint32_t end);

// Up to 128 payload bytes, the rest filled with 0xFF, then the CRC of all 128 as sent. Only
// payload.size() bytes are read.
DataBlock buildDataBlock(std::span<const std::uint8_t> payload);

// The image CRC, the tag and the number of bytes the CRC covers.
InformationBlock buildInformationBlock(std::uint16_t crc, std::uint32_t crcLength);

// The image CRC the loader is asked to find in flash; no CRC of its own.
ExpectedCrcFrame buildExpectedCrcFrame(std::uint16_t crc);

// CRC of the image from offset 40 to its end; 0 (the CRC of nothing) for a shorter image.
std::uint16_t imageCrc(std::span<const std::uint8_t> image);

}  // namespace argb::iap
