#include "iap/IapFrames.h"

#include <algorithm>

#include "iap/Crc16.h"
#include "iap/IapFlashMap.h"

namespace argb::iap {

namespace {

constexpr std::uint8_t kHeaderMarker = 0x81;
constexpr std::uint8_t kHeaderTrailer = 0x7E;
constexpr std::uint8_t kComplementMask = 0xFF;

// Parameter block layout, offsets within the block.
constexpr std::size_t kParamLength = 0;
constexpr std::size_t kParamReserved = 1;
constexpr std::size_t kParamCrc = 2;
constexpr std::size_t kParamStart = 4;
constexpr std::size_t kParamEnd = 8;

// Information block layout.
constexpr std::size_t kInfoCrc = 0;
constexpr std::size_t kInfoTag = 2;
constexpr std::size_t kInfoLength = 4;

void putLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace

CommandHeader buildCommandHeader(IapCommand code) {
  const auto byte = static_cast<std::uint8_t>(code);
  return {byte, kHeaderMarker, static_cast<std::uint8_t>(byte ^ kComplementMask), kHeaderTrailer};
}

CommandFrame buildCommandFrame(IapCommand code, std::uint32_t start, std::uint32_t end) {
  CommandFrame frame{};
  const CommandHeader header = buildCommandHeader(code);
  std::copy(header.begin(), header.end(), frame.begin());

  std::uint8_t* block = frame.data() + kCommandHeaderSize;
  block[kParamLength] = static_cast<std::uint8_t>(kParameterBlockSize);
  block[kParamReserved] = 0;
  putLe32(block + kParamStart, start);
  putLe32(block + kParamEnd, end);
  // The CRC field is still zero here, as the loader expects when it recomputes it.
  putLe16(block + kParamCrc, crc16(block, kParameterBlockSize));
  return frame;
}

DataBlock buildDataBlock(std::span<const std::uint8_t> payload) {
  DataBlock block;
  const std::size_t used = std::min(payload.size(), kDataBlockPayload);
  std::copy_n(payload.begin(), used, block.begin());
  std::fill(block.begin() + static_cast<std::ptrdiff_t>(used),
            block.begin() + static_cast<std::ptrdiff_t>(kDataBlockPayload), kErasedByte);
  putLe16(block.data() + kDataBlockPayload, crc16(block.data(), kDataBlockPayload));
  return block;
}

InformationBlock buildInformationBlock(std::uint16_t crc, std::uint32_t crcLength) {
  InformationBlock info{};
  putLe16(info.data() + kInfoCrc, crc);
  putLe16(info.data() + kInfoTag, kInformationBlockTag);
  putLe32(info.data() + kInfoLength, crcLength);
  return info;
}

ExpectedCrcFrame buildExpectedCrcFrame(std::uint16_t crc) {
  ExpectedCrcFrame frame{};
  putLe16(frame.data(), crc);
  return frame;
}

std::uint16_t imageCrc(std::span<const std::uint8_t> image) {
  if (image.size() <= kCrcStartOffset) {
    return crc16(nullptr, 0);
  }
  const auto covered = image.subspan(kCrcStartOffset);
  return crc16(covered.data(), covered.size());
}

}  // namespace argb::iap
