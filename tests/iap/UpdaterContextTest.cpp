#include "iap/UpdaterContext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "iap/Crc16.h"
#include "tests/iap/RecordingI2cBus.h"

namespace argb::iap {
namespace {

using test::RecordingI2cBus;
using Kind = RecordingI2cBus::Kind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoader = 0x44;
constexpr std::size_t kSilentPolls = 3002;

Bytes makeImage(std::size_t length) {
  Bytes image(length);
  for (std::size_t i = 0; i < length; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  }
  return image;
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// Start and end address of a 16-byte command frame.
std::pair<std::uint32_t, std::uint32_t> rangeOf(const Bytes& frame) {
  return {le32(frame, 8), le32(frame, 12)};
}

// A 130-byte block whose trailing CRC covers exactly its 128 payload bytes.
void expectValidBlock(const Bytes& block) {
  ASSERT_EQ(block.size(), 130u);
  const std::uint16_t crc = crc16(block.data(), 128);
  EXPECT_EQ(block[128] | block[129] << 8, crc);
}

class UpdaterContextTest : public ::testing::Test {
 protected:
  void hold(const Bytes& image) {
    context.setImage(image.data(), static_cast<std::uint32_t>(image.size()));
  }

  RecordingI2cBus bus;
  UpdaterContext context{bus, bus};
};

TEST_F(UpdaterContextTest, StartAndExitSendTheirHeaderAndPollAtOnce) {
  EXPECT_EQ(context.iapStart(0xC0), kIapOk);
  EXPECT_EQ(context.iapExit(kLoader), kIapOk);
  ASSERT_EQ(bus.log.size(), 4u);
  EXPECT_EQ(bus.log[0].kind, Kind::kWrite);
  EXPECT_EQ(bus.log[0].value, 0xC0u);
  EXPECT_EQ(bus.log[0].bytes, (Bytes{0x01, 0x81, 0xFE, 0x7E}));
  EXPECT_EQ(bus.log[1].kind, Kind::kPoll);
  EXPECT_EQ(bus.log[1].value, 0xC0u);
  EXPECT_EQ(bus.log[2].bytes, (Bytes{0x02, 0x81, 0xFD, 0x7E}));
  EXPECT_EQ(bus.log[3].value, kLoader);
  EXPECT_EQ(bus.count(Kind::kSleep), 0u);
}

TEST_F(UpdaterContextTest, EraseSendsItsFrameAndEachMissedPollIsFollowedByOneMillisecond) {
  bus.missesPerFrame = 2;
  EXPECT_EQ(context.iapErase(kLoader), kIapOk);
  EXPECT_EQ(bus.log[0].bytes, (Bytes{0x03, 0x81, 0xFC, 0x7E, 0x0C, 0x00, 0x6A, 0x36, 0x00, 0x18,
                                     0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00}));
  std::vector<Kind> kinds;
  for (const auto& event : bus.log) {
    kinds.push_back(event.kind);
    if (event.kind == Kind::kSleep) {
      EXPECT_EQ(event.value, 1u);
    }
  }
  EXPECT_EQ(kinds, (std::vector<Kind>{Kind::kWrite, Kind::kPoll, Kind::kSleep, Kind::kPoll,
                                      Kind::kSleep, Kind::kPoll}));
}

TEST_F(UpdaterContextTest, SilentLoaderCosts3002PollsAndPausesThenNoFurtherFrame) {
  bus.missesPerFrame.reset();
  const Bytes image = makeImage(300);
  hold(image);
  EXPECT_EQ(context.iapFlash(kLoader), kIapTimeout);
  EXPECT_EQ(bus.writes().size(), 1u);
  EXPECT_EQ(bus.count(Kind::kPoll), kSilentPolls);
  EXPECT_EQ(bus.count(Kind::kSleep), kSilentPolls);
  EXPECT_EQ(bus.log[1].kind, Kind::kPoll);
  EXPECT_EQ(bus.log.back().kind, Kind::kSleep);
}

TEST_F(UpdaterContextTest, AcknowledgementOnTheLastAllowedPollCountsAndEachFrameStartsAfresh) {
  bus.missesPerFrame = kSilentPolls - 1;
  hold(makeImage(64));
  EXPECT_EQ(context.iapCheckCrc(kLoader), kIapOk);
  EXPECT_EQ(bus.writes().size(), 2u);
  EXPECT_EQ(bus.count(Kind::kPoll), 2 * kSilentPolls);
}

TEST_F(UpdaterContextTest, FailedWriteReturns5WithoutPolling) {
  bus.failingWrite = 0;
  EXPECT_EQ(context.iapErase(kLoader), kIapInterfaceError);
  EXPECT_EQ(bus.log.size(), 1u);
}

TEST_F(UpdaterContextTest, FailedWriteOfTheFifthBlockEndsTheFlashThere) {
  bus.failingWrite = 5;  // the command frame, four blocks, then the fifth
  hold(makeImage(1280));
  EXPECT_EQ(context.iapFlash(kLoader), kIapInterfaceError);
  EXPECT_EQ(bus.writes().size(), 6u);
  EXPECT_EQ(bus.count(Kind::kPoll), 5u);
  EXPECT_EQ(bus.log.back().kind, Kind::kWrite);
}

TEST_F(UpdaterContextTest, ImageOperationsNeedAnImageLongerThan40Bytes) {
  EXPECT_EQ(context.iapPrepareCrc(kLoader), kIapCanNotFindApFile);
  EXPECT_EQ(context.iapFlash(kLoader), kIapCanNotFindApFile);
  EXPECT_EQ(context.iapCheckCrc(kLoader), kIapCanNotFindApFile);
  hold(makeImage(40));
  EXPECT_EQ(context.iapPrepareCrc(kLoader), kIapCanNotFindApFile);
  EXPECT_EQ(context.iapFlash(kLoader), kIapCanNotFindApFile);
  EXPECT_EQ(context.iapCheckCrc(kLoader), kIapCanNotFindApFile);
  context.setImage(nullptr, 0);
  EXPECT_EQ(context.iapFlash(kLoader), kIapCanNotFindApFile);
  EXPECT_TRUE(bus.log.empty());

  hold(makeImage(41));
  EXPECT_EQ(context.iapCheckCrc(kLoader), kIapOk);
}

TEST_F(UpdaterContextTest, SetImageKeepsOnlyItsOwnCopyOfTheLastImage) {
  Bytes first = makeImage(100);
  hold(first);
  Bytes second(50, 0xAB);
  hold(second);
  second.assign(50, 0x00);
  ASSERT_EQ(context.imageLength(), 50u);
  EXPECT_TRUE(
      std::all_of(context.image(), context.image() + 50, [](std::uint8_t b) { return b == 0xAB; }));
}

TEST_F(UpdaterContextTest, PrepareCrcWritesTheInformationBlockInOneDataBlock) {
  const Bytes image = makeImage(1000);
  hold(image);
  EXPECT_EQ(context.iapPrepareCrc(kLoader), kIapOk);
  const auto writes = bus.writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes, (Bytes{0x04, 0x81, 0xFB, 0x7E, 0x0C, 0x00, 0x63, 0x45, 0x20, 0x18,
                                    0x00, 0x00, 0x27, 0x18, 0x00, 0x00}));
  const Bytes& block = writes[1].bytes;
  expectValidBlock(block);
  const std::uint16_t crc = crc16(image.data() + 40, 960);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 8),
            (Bytes{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8), 0x0C, 0x1A,
                   0xC0, 0x03, 0x00, 0x00}));
  EXPECT_TRUE(std::all_of(block.begin() + 8, block.begin() + 128,
                          [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(UpdaterContextTest, FullSizeImageGives81BlocksInOrderWithAnErasedTail) {
  const Bytes image = makeImage(10272);
  hold(image);
  EXPECT_EQ(context.iapFlash(kLoader), kIapOk);
  const auto writes = bus.writes();
  ASSERT_EQ(writes.size(), 82u);
  EXPECT_EQ(rangeOf(writes[0].bytes), std::make_pair(0x1800u, 0x401Fu));
  for (std::size_t k = 0; k < 81; ++k) {
    expectValidBlock(writes[1 + k].bytes);
    const auto from = image.begin() + static_cast<std::ptrdiff_t>(128 * k);
    EXPECT_TRUE(std::equal(from, std::min(from + 128, image.end()), writes[1 + k].bytes.begin()))
        << "block " << k;
  }
  const Bytes& last = writes.back().bytes;
  EXPECT_TRUE(
      std::all_of(last.begin() + 32, last.begin() + 128, [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(UpdaterContextTest, CheckCrcAsksForTheCoveredRangeThenSendsTheExpectedCrc) {
  const Bytes image = makeImage(1000);
  hold(image);
  EXPECT_EQ(context.iapCheckCrc(kLoader), kIapOk);
  const auto writes = bus.writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes[0], 0x05);
  EXPECT_EQ(rangeOf(writes[0].bytes), std::make_pair(0x1828u, 0x1BE7u));
  const std::uint16_t crc = crc16(image.data() + 40, 960);
  EXPECT_EQ(writes[1].bytes,
            (Bytes{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)}));
}

}  // namespace
}  // namespace argb::iap
