#include "app/UpdateSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/firmware/FirmwareImage.h"
#include "tests/support/FakePlatform.h"

namespace argb::app {
namespace {

std::string transaction(const char* kind, std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "%s 0x%02X", kind, static_cast<unsigned>(address));
  return text;
}

// A controller reduced to its acknowledgements: frames are numbered from 1 in the order written.
// Each transaction joins the platform's timeline, between the console texts and the pauses.
class ScriptedBus : public i2c::I2cBus {
 public:
  explicit ScriptedBus(std::vector<std::string>& timeline) : timeline_(timeline) {}

  std::set<int> failingWrites;
  std::set<int> silentFrames;
  std::vector<std::uint32_t> addresses;
  int polls = 0;

  std::int32_t i2cWrite(const i2c::I2cFrame& frame) override {
    addresses.push_back(frame.deviceAddress);
    timeline_.push_back(transaction("write", frame.deviceAddress));
    return failingWrites.count(frameNumber()) != 0 ? -1 : 0;
  }
  bool i2cPollAck(const i2c::I2cFrame& frame) override {
    ++polls;
    // A silent frame's 3002 polls would drown the timeline; they are counted instead.
    if (silentFrames.count(frameNumber()) != 0) return false;
    timeline_.push_back(transaction("poll", frame.deviceAddress));
    return true;
  }

 private:
  std::vector<std::string>& timeline_;

  int frameNumber() const { return static_cast<int>(addresses.size()); }
};

// Frames of a full update: 1 start, 1 erase, 2 for the information block, 1 + 81 for the image,
// 2 for the check, 1 exit, 1 last start.
constexpr int kFramesOfAnUpdate = 90;

// One update over its own platform fake and bus, for tests that try several scripts.
int runSequence(testing::FakePlatform& platform, ScriptedBus& bus) {
  iap::UpdaterContext context(bus, platform);
  return UpdateSequence(platform, platform, platform, context, kFirmwareImage, kFirmwareImageLength)
      .run();
}

class UpdateSequenceTest : public ::testing::Test {
 protected:
  int run() { return sequence.run(); }

  testing::FakePlatform fake;
  ScriptedBus bus{fake.timeline};
  iap::UpdaterContext context{bus, fake};
  UpdateSequence sequence{fake, fake, fake, context, kFirmwareImage, kFirmwareImageLength};
};

// One acknowledged frame: its write, then the poll that finds it acknowledged.
void frames(std::vector<std::string>& timeline, std::uint32_t address, int count) {
  for (int i = 0; i < count; ++i) {
    timeline.push_back(transaction("write", address));
    timeline.push_back(transaction("poll", address));
  }
}

// Each phase's message comes before its first frame, the pause between "FW Erase" and the erase,
// and the guard is released before the last texts.
TEST_F(UpdateSequenceTest, AWholeUpdateHappensInThisOrder) {
  fake.keys = {'x'};
  EXPECT_EQ(run(), 0);
  std::vector<std::string> expected = {"S:Initial FW update process.\n"};
  frames(expected, 0xC0, 1);
  expected.insert(expected.end(), {"S:FW Erase\n", "sleep 200"});
  frames(expected, 0x44, 1);
  expected.push_back("S:Prepare CRC\n");
  frames(expected, 0x44, 2);
  expected.push_back("S:Flash FW\n");
  frames(expected, 0x44, 1 + 81);
  expected.push_back("S:Check CRC\n");
  frames(expected, 0x44, 2);
  expected.push_back("S:Exit updater\n");
  frames(expected, 0x44, 2);
  expected.insert(expected.end(), {"guard end", "S:Update result:Success\n", "D",
                                   "S:\nPress anykey to close the update.", "E", "K"});
  EXPECT_EQ(fake.timeline, expected);
}

TEST_F(UpdateSequenceTest, AControllerInItsLoaderIsStartedThereOnce) {
  fake.keys = {'x'};
  EXPECT_EQ(sequence.run(ControllerMode::kLoader), 0);
  EXPECT_EQ(fake.output.rfind("Initial FW update process.\nFW Erase\n", 0), 0u);
  ASSERT_EQ(bus.addresses.size(), static_cast<std::size_t>(kFramesOfAnUpdate));
  EXPECT_TRUE(std::all_of(bus.addresses.begin(), bus.addresses.end(),
                          [](std::uint32_t address) { return address == 0x44; }));
}

TEST_F(UpdateSequenceTest, ALoaderThatNeverTakesTheStartStopsWithTimeout) {
  bus.silentFrames = {1};
  EXPECT_EQ(sequence.run(ControllerMode::kLoader), -1);
  EXPECT_EQ(fake.output, "Initial FW update process.\nIAP_TIMEOUT");
  EXPECT_EQ(bus.addresses, std::vector<std::uint32_t>{0x44});
  EXPECT_EQ(bus.polls, 3002);
}

TEST_F(UpdateSequenceTest, AnImageThatCannotBeHeldStopsBeforeTheBusIsTouched) {
  UpdateSequence tooShort{fake, fake, fake, context, kFirmwareImage, 40};
  EXPECT_EQ(tooShort.run(), -1);
  EXPECT_EQ(fake.timeline, (std::vector<std::string>{"guard end", "S:IAP_CAN_NOT_FIND_AP_FILE"}));
  EXPECT_TRUE(bus.addresses.empty());
}

// On a terminal each acknowledged block rewrites the line after "Flash FW"; the line is blanked
// before whatever comes next, so the screen ends as without it.
TEST_F(UpdateSequenceTest, ProgressOfTheBlocksIsShownOnATerminalAndErasedAfter) {
  const std::string blank =
      "S:\r" + std::string(std::string("  block 81 of 81 (100%)").size(), ' ') + "\r";
  struct Case {
    int failingFrame;  // 0: none
    int blocksShown;
    const char* next;
  };
  // Frame 6 carries block 1; frame 40 block 35.
  for (const Case c : {Case{0, 81, "S:Check CRC\n"}, Case{40, 34, "S:IAP_INTERFACE_ERROR"}}) {
    testing::FakePlatform platform;
    platform.interactiveOutput = true;
    platform.keys = {'x'};
    ScriptedBus scripted(platform.timeline);
    if (c.failingFrame != 0) scripted.failingWrites = {c.failingFrame};
    runSequence(platform, scripted);
    std::vector<std::string> shown;
    const auto flash = std::find(platform.writes.begin(), platform.writes.end(), "S:Flash FW\n");
    ASSERT_NE(flash, platform.writes.end());
    const auto next = std::find(flash, platform.writes.end(), c.next);
    ASSERT_NE(next, platform.writes.end()) << c.next;
    std::vector<std::string> expected;
    for (int block = 1; block <= c.blocksShown; ++block) {
      expected.push_back("S:\r  block " + std::to_string(block) + " of 81 (" +
                         std::to_string(block * 100 / 81) + "%)");
    }
    expected.push_back(blank);
    EXPECT_EQ(std::vector<std::string>(flash + 1, next), expected) << c.failingFrame;
  }
}

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
    ScriptedBus scripted(platform.timeline);
    (c.writeFails ? scripted.failingWrites : scripted.silentFrames) = {c.frame};
    EXPECT_EQ(runSequence(platform, scripted), -1) << c.frame;
    const std::string end = c.expectedEnd;
    ASSERT_GE(platform.output.size(), end.size());
    EXPECT_EQ(platform.output.substr(platform.output.size() - end.size()), end) << c.frame;
    EXPECT_EQ(scripted.addresses.size(), static_cast<std::size_t>(c.frame)) << "nothing after";
    EXPECT_EQ(platform.keyReads, 0);
    EXPECT_EQ(std::count(platform.timeline.begin(), platform.timeline.end(), "guard end"), 1);
  }
}

// Started from Explorer the window closes with the program: a failure's name must stay readable.
TEST_F(UpdateSequenceTest, AFailureWaitsForAKeyWhenTheWindowWouldCloseWithTheProgram) {
  bus.failingWrites = {2};
  fake.consoleClosesWithProgram = true;
  fake.keys = {'x'};
  EXPECT_EQ(run(), -1);
  const std::string end = "FW Erase\nIAP_INTERFACE_ERROR\nPress anykey to close the update.\n";
  EXPECT_EQ(fake.output.substr(fake.output.size() - end.size()), end);
  EXPECT_EQ(fake.keyReads, 1);
}

}  // namespace
}  // namespace argb::app
