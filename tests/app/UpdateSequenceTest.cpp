#include "app/UpdateSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "app/firmware/FirmwareImage.h"
#include "tests/support/FakePlatform.h"

namespace argb::app {
namespace {

// A controller reduced to its acknowledgements: frames are numbered from 1 in the order written.
class ScriptedBus : public i2c::I2cBus {
 public:
  std::set<int> failingWrites;
  std::set<int> silentFrames;
  std::vector<std::uint32_t> addresses;
  int polls = 0;

  std::int32_t i2cWrite(const i2c::I2cFrame& frame) override {
    addresses.push_back(frame.deviceAddress);
    return failingWrites.count(frameNumber()) != 0 ? -1 : 0;
  }
  bool i2cPollAck(const i2c::I2cFrame&) override {
    ++polls;
    return silentFrames.count(frameNumber()) == 0;
  }

 private:
  int frameNumber() const { return static_cast<int>(addresses.size()); }
};

// Frames of a full update: 1 start, 1 erase, 2 for the information block, 1 + 81 for the image,
// 2 for the check, 1 exit, 1 last start.
constexpr int kFramesOfAnUpdate = 90;

class UpdateSequenceTest : public ::testing::Test {
 protected:
  int run() { return sequence.run(); }

  testing::FakePlatform fake;
  ScriptedBus bus;
  iap::UpdaterContext context{bus, fake};
  UpdateSequence sequence{fake, fake, context, kFirmwareImage, kFirmwareImageLength};
};

TEST_F(UpdateSequenceTest, ASuccessfulUpdateReportsSuccessAndWaitsForAKey) {
  fake.keys = {'x'};
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(fake.output,
            "Initial FW update process.\nFW Erase\nPrepare CRC\nFlash FW\nCheck CRC\nExit updater\n"
            "Update result:Success\n\nPress anykey to close the update.\n");
  EXPECT_EQ(fake.keyReads, 1);
  EXPECT_EQ(fake.sleeps, std::vector<std::uint32_t>{200}) << "acknowledged at once: no poll pause";
  ASSERT_EQ(bus.addresses.size(), static_cast<std::size_t>(kFramesOfAnUpdate));
  EXPECT_EQ(bus.addresses.front(), 0xC0u);
  EXPECT_TRUE(std::all_of(bus.addresses.begin() + 1, bus.addresses.end(),
                          [](std::uint32_t address) { return address == 0x44; }));
  ASSERT_EQ(context.imageLength(), kFirmwareImageLength);
  EXPECT_TRUE(std::equal(kFirmwareImage, kFirmwareImage + kFirmwareImageLength, context.image()));
}

TEST_F(UpdateSequenceTest, TheEraseWaitsForItsMessageAndThePause) {
  fake.keys = {'x'};
  run();
  const auto erase = std::find(fake.writes.begin(), fake.writes.end(), "S:FW Erase\n");
  ASSERT_NE(erase, fake.writes.end());
  EXPECT_EQ(std::count(fake.events.begin(), fake.events.end(), "sleep 200"), 1);
}

TEST_F(UpdateSequenceTest, ASecondStartAtTheApplicationSkipsTheLoaderAttempt) {
  bus.failingWrites = {1};
  fake.keys = {'x'};
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(fake.output.rfind("Initial FW update process.\nInitial FW update process - Second "
                              "time.\nFW Erase\nPrepare CRC\n",
                              0),
            0u);
  EXPECT_EQ(bus.addresses[1], 0xC0u);
  EXPECT_EQ(bus.addresses[2], 0x44u) << "the erase follows at once";
}

TEST_F(UpdateSequenceTest, AStartAtTheLoaderServesADeviceAlreadyInIt) {
  bus.failingWrites = {1, 2};
  fake.keys = {'x'};
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(std::vector<std::uint32_t>(bus.addresses.begin(), bus.addresses.begin() + 4),
            (std::vector<std::uint32_t>{0xC0, 0xC0, 0x44, 0x44}));
}

TEST_F(UpdateSequenceTest, ThreeSilentStartsStopWithTimeoutAndExitCodeMinusOne) {
  bus.silentFrames = {1, 2, 3};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(fake.output,
            "Initial FW update process.\nInitial FW update process - Second time.\nIAP_TIMEOUT");
  EXPECT_EQ(fake.keyReads, 0);
  EXPECT_EQ(bus.polls, 3 * 3002);
  EXPECT_EQ(bus.addresses.size(), 3u);
}

TEST_F(UpdateSequenceTest, EachLaterStepStopsWithItsOwnResultAndNothingAfterIt) {
  struct Case {
    int frame;
    bool writeFails;
    const char* expectedEnd;
  };
  const Case cases[] = {
      {2, true, "FW Erase\nIAP_INTERFACE_ERROR"},  {3, false, "Prepare CRC\nIAP_TIMEOUT"},
      {40, true, "Flash FW\nIAP_INTERFACE_ERROR"}, {87, false, "Check CRC\nIAP_TIMEOUT"},
      {88, false, "Check CRC\nIAP_TIMEOUT"},       {89, true, "Exit updater\nIAP_INTERFACE_ERROR"},
      {90, false, "Exit updater\nIAP_TIMEOUT"},
  };
  for (const Case& c : cases) {
    testing::FakePlatform platform;
    ScriptedBus scripted;
    (c.writeFails ? scripted.failingWrites : scripted.silentFrames) = {c.frame};
    iap::UpdaterContext updater(scripted, platform);
    UpdateSequence steps(platform, platform, updater, kFirmwareImage, kFirmwareImageLength);
    EXPECT_EQ(steps.run(), -1) << c.frame;
    const std::string end = c.expectedEnd;
    ASSERT_GE(platform.output.size(), end.size());
    EXPECT_EQ(platform.output.substr(platform.output.size() - end.size()), end) << c.frame;
    EXPECT_EQ(scripted.addresses.size(), static_cast<std::size_t>(c.frame)) << "nothing after";
    EXPECT_EQ(platform.keyReads, 0);
  }
}

}  // namespace
}  // namespace argb::app
