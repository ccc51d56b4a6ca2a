#include "iap/IapFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "iap/Crc16.h"

namespace argb::iap {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytesOf(const std::array<std::uint8_t, N>& frame) {
  return {frame.begin(), frame.end()};
}

TEST(IapFrames, HeaderCarriesTheComplementOfTheCode) {
  EXPECT_EQ(bytesOf(buildCommandHeader(IapCommand::kStart)), (Bytes{0x01, 0x81, 0xFE, 0x7E}));
  EXPECT_EQ(bytesOf(buildCommandHeader(IapCommand::kExit)), (Bytes{0x02, 0x81, 0xFD, 0x7E}));
  EXPECT_EQ(bytesOf(buildCommandHeader(IapCommand::kCheckCrc)), (Bytes{0x05, 0x81, 0xFA, 0x7E}));
}

TEST(IapFrames, CommandFramesMatchTheWorkedFrames) {
  EXPECT_EQ(bytesOf(buildCommandFrame(IapCommand::kErase, 0x1800, 0xFFFF)),
            (Bytes{0x03, 0x81, 0xFC, 0x7E, 0x0C, 0x00, 0x6A, 0x36, 0x00, 0x18, 0x00, 0x00, 0xFF,
                   0xFF, 0x00, 0x00}));
  EXPECT_EQ(bytesOf(buildCommandFrame(IapCommand::kWrite, 0x1820, 0x1827)),
            (Bytes{0x04, 0x81, 0xFB, 0x7E, 0x0C, 0x00, 0x63, 0x45, 0x20, 0x18, 0x00, 0x00, 0x27,
                   0x18, 0x00, 0x00}));
}

TEST(IapFrames, ParameterBlockCrcIsTakenWithItsOwnFieldZero) {
  CommandFrame frame = buildCommandFrame(IapCommand::kCheckCrc, 0x1828, 0x401F);
  std::uint8_t* block = frame.data() + kCommandHeaderSize;
  const std::uint16_t stored = static_cast<std::uint16_t>(block[2] | block[3] << 8);
  EXPECT_NE(crc16(block, kParameterBlockSize), stored);
  block[2] = 0;
  block[3] = 0;
  EXPECT_EQ(crc16(block, kParameterBlockSize), stored);
}

TEST(IapFrames, DataBlockPadsWithErasedBytesAndCoversOnlyThePayload) {
  const Bytes payload = {0x10, 0x20, 0x30};
  const DataBlock block = buildDataBlock(payload);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), block.begin()));
  EXPECT_TRUE(std::all_of(block.begin() + 3, block.begin() + 128,
                          [](std::uint8_t b) { return b == 0xFF; }));
  const std::uint16_t crc = crc16(block.data(), kDataBlockPayload);
  EXPECT_EQ(block[128], crc & 0xFF);
  EXPECT_EQ(block[129], crc >> 8);

  const Bytes erased(128, 0xFF);
  const DataBlock full = buildDataBlock(erased);
  EXPECT_EQ(full[128], 0xA9);  // 0xEDA9, low byte first
  EXPECT_EQ(full[129], 0xED);
}

TEST(IapFrames, InformationBlockAndExpectedCrcAreLittleEndian) {
  EXPECT_EQ(bytesOf(buildInformationBlock(0xBEEF, 10232)),
            (Bytes{0xEF, 0xBE, 0x0C, 0x1A, 0xF8, 0x27, 0x00, 0x00}));
  EXPECT_EQ(bytesOf(buildExpectedCrcFrame(0x31C3)), (Bytes{0xC3, 0x31}));
}

TEST(IapFrames, ImageCrcStartsAtOffset40) {
  Bytes image(100);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(i * 7);
  }
  const std::uint16_t crc = imageCrc(image);
  EXPECT_EQ(crc, crc16(image.data() + 40, 60));
  image[39] ^= 0xFF;
  EXPECT_EQ(imageCrc(image), crc);
  image[40] ^= 0xFF;
  EXPECT_NE(imageCrc(image), crc);
  // Too short to cover anything: the CRC of nothing, and nothing read past the end.
  EXPECT_EQ(imageCrc(std::span<const std::uint8_t>(image.data(), 40)), 0);
}

}  // namespace
}  // namespace argb::iap
