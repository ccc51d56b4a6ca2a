#include "app/firmware/FirmwareImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "iap/Crc16.h"
#include "iap/UpdaterContext.h"
#include "tests/iap/RecordingI2cBus.h"

namespace argb::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLinkBase = 0x1800;
constexpr std::uint32_t kErasedWord = 0xFFFFFFFF;
constexpr std::uint32_t kDefaultHandler = 0x1935;
constexpr std::uint32_t kLoader = 0x44;

std::uint32_t vectorWord(std::size_t index) {
  const std::uint8_t* at = kFirmwareImage + 4 * index;
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool isHandler(std::uint32_t word) {
  return (word & 1) != 0 && word >= kLinkBase && word < kLinkBase + kFirmwareImageLength;
}

// The frames the IAP operations send for an image.
std::vector<iap::test::RecordingI2cBus::Event> framesSentFor(const Bytes& image) {
  iap::test::RecordingI2cBus bus;
  iap::UpdaterContext context(bus, bus);
  context.setImage(image.data(), static_cast<std::uint32_t>(image.size()));
  EXPECT_EQ(context.iapPrepareCrc(kLoader), iap::kIapOk);
  EXPECT_EQ(context.iapFlash(kLoader), iap::kIapOk);
  EXPECT_EQ(context.iapCheckCrc(kLoader), iap::kIapOk);
  return bus.writes();
}

// The image CRC as sent: in the information block and as the expected CRC.
std::pair<Bytes, Bytes> sentCrcs(const Bytes& image) {
  const auto frames = framesSentFor(image);
  const Bytes& info = frames[1].bytes;
  return {Bytes(info.begin(), info.begin() + 2), frames.back().bytes};
}

Bytes committedImage() {
  return Bytes(kFirmwareImage, kFirmwareImage + kFirmwareImageLength);
}

TEST(FirmwareImage, Is10272Bytes) {
  EXPECT_EQ(kFirmwareImageLength, 10272u);
  EXPECT_EQ(sizeof(kFirmwareImage), 10272u);
}

TEST(FirmwareImage, VectorTableHasTheTellingWords) {
  EXPECT_EQ(vectorWord(0), 0x20000C10u);
  EXPECT_EQ(vectorWord(1), 0x18C1u);
  EXPECT_EQ(vectorWord(2), 0x192Bu);
  EXPECT_EQ(vectorWord(3), 0x23D9u);
  for (const std::size_t word : {4u, 5u, 6u, 7u, 8u, 9u, 10u, 12u, 13u}) {
    EXPECT_EQ(vectorWord(word), kErasedWord) << "word " << word;
  }
  EXPECT_EQ(vectorWord(11), 0x192Fu);
  EXPECT_EQ(vectorWord(14), 0x1931u);
  EXPECT_EQ(vectorWord(15), 0x1933u);

  for (std::size_t irq = 0; irq < 32; ++irq) {
    const std::uint32_t word = vectorWord(16 + irq);
    if (irq == 9 || irq == 15 || irq == 16) {
      EXPECT_EQ(word, kErasedWord) << "irq " << irq;
    } else if (irq == 6 || irq == 17 || irq == 18 || irq == 20 || irq == 31) {
      EXPECT_NE(word, kDefaultHandler) << "irq " << irq;
      EXPECT_TRUE(isHandler(word)) << "irq " << irq;
    } else {
      EXPECT_EQ(word, kDefaultHandler) << "irq " << irq;
    }
  }
}

TEST(FirmwareImage, LeavesTheInformationBlockPlaceErased) {
  EXPECT_TRUE(std::all_of(kFirmwareImage + 0x20, kFirmwareImage + 0x28,
                          [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(FirmwareImage, InformationBlockRecords10232CoveredBytes) {
  const auto frames = framesSentFor(committedImage());
  const Bytes& info = frames[1].bytes;
  EXPECT_EQ(info[4] | info[5] << 8 | info[6] << 16 | info[7] << 24, 10232);
  EXPECT_EQ(info[0] | info[1] << 8, iap::crc16(kFirmwareImage + 40, 10232));
}

TEST(FirmwareImage, CrcIgnoresTheFirst40BytesAndCoversTheRest) {
  const Bytes image = committedImage();
  const auto original = sentCrcs(image);
  EXPECT_EQ(original.first, original.second);
  for (const std::size_t offset : {0u, 4u, 39u}) {
    Bytes changed = image;
    changed[offset] ^= 0x5A;
    EXPECT_EQ(sentCrcs(changed), original) << "offset " << offset;
  }
  for (const std::size_t offset : {40u, 10271u}) {
    Bytes changed = image;
    changed[offset] ^= 0x5A;
    const auto crcs = sentCrcs(changed);
    EXPECT_NE(crcs.first, original.first) << "offset " << offset;
    EXPECT_NE(crcs.second, original.second) << "offset " << offset;
  }
}

TEST(FirmwareImage, EightyFirstBlockStartsAtOffset10240) {
  const auto frames = framesSentFor(committedImage());
  // Prepare sends 2 frames, then flash its command frame and 81 blocks.
  ASSERT_EQ(frames.size(), 2u + 1u + 81u + 2u);
  const Bytes& last = frames[2 + 81].bytes;
  EXPECT_TRUE(std::equal(kFirmwareImage + 10240, kFirmwareImage + 10272, last.begin()));
}

}  // namespace
}  // namespace argb::app
