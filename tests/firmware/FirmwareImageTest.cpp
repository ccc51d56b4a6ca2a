#include "app/firmware/FirmwareImage.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace argb::app {
namespace {

constexpr std::uint32_t kLinkBase = 0x1800;
constexpr std::uint32_t kErasedWord = 0xFFFFFFFF;
constexpr std::uint32_t kDefaultHandler = 0x1935;

std::uint32_t vectorWord(std::size_t index) {
  const std::uint8_t* at = kFirmwareImage + 4 * index;
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool isHandler(std::uint32_t word) {
  return (word & 1) != 0 && word >= kLinkBase && word < kLinkBase + kFirmwareImageLength;
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

}  // namespace
}  // namespace argb::app
