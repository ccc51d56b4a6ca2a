// The flash, the frame checks and the controller's state machine, without the driver around them.

#include <gtest/gtest.h>

#include <string>

#include "UpdateFrames.h"
#include "emulator/Crc16.h"
#include "emulator/FlashModel.h"
#include "emulator/Hex.h"
#include "emulator/ImageArea.h"
#include "emulator/LedController.h"

namespace argb::emulator {
namespace {

using namespace std::chrono_literals;
using test::commandFrame;
using test::dataBlock;
using test::header;

std::uint16_t crcOf(std::string_view text) {
  return crc16({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

TEST(Crc16, MatchesTheXmodemCheckValues) {
  EXPECT_EQ(crcOf("123456789"), 0x31C3);
  EXPECT_EQ(crcOf("abc"), 0x9DD6);
  EXPECT_EQ(crcOf(""), 0x0000);
  EXPECT_EQ(crcOf(std::string(128, '\xFF')), 0xEDA9);
}

TEST(FlashModel, ProgrammingOnlyClearsBitsAndEraseSetsThemAgain) {
  FlashModel flash;
  const std::uint8_t first[] = {0xF0, 0x3C};
  const std::uint8_t second[] = {0x0F, 0xFF};
  flash.program(0x2000, first);
  flash.program(0x2000, second);
  EXPECT_EQ(flash.at(0x2000), 0x00);
  EXPECT_EQ(flash.at(0x2001), 0x3C);
  flash.erase(0x2001, 0x2001);
  EXPECT_EQ(flash.at(0x2000), 0x00);
  EXPECT_EQ(flash.at(0x2001), 0xFF);
}

// A device in the loader, driven with a clock that the test moves.
class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() : device(loaderState(), options()) {}

  static DeviceState loaderState() {
    DeviceState state = DeviceState::factoryNew(kDefaultVersion);
    state.mode = Mode::Loader;
    return state;
  }
  static ControllerOptions options() {
    ControllerOptions options;
    options.eraseTime = 0us;
    options.programTime = 0us;
    return options;
  }

  FrameResult send(const std::vector<std::uint8_t>& frame) {
    return device.receiveFrame(kLoaderAddress, frame, now);
  }
  bool acknowledged() { return device.pollAcknowledge(kLoaderAddress, now).acknowledged; }
  bool sendAndAck(const std::vector<std::uint8_t>& frame) {
    return send(frame).accepted && acknowledged();
  }

  test::Link link() {
    return {[this](std::uint8_t address, std::span<const std::uint8_t> frame) {
              device.receiveFrame(address, frame, now);
              return device.answersAt(address);
            },
            [this](std::uint8_t address) {
              now += 1ms;
              return device.pollAcknowledge(address, now).acknowledged;
            }};
  }

  LedController::Time now{0};
  LedController device;
};

TEST_F(LoaderTest, MalformedFramesAreNeverAcknowledgedAndChangeNothing) {
  auto badHeader = commandFrame(3, 0x1800, 0xFFFF);
  badHeader[2] = 0xFD;
  auto badParameterCrc = commandFrame(3, 0x1800, 0xFFFF);
  badParameterCrc[6] ^= 0x01;
  auto badLength = commandFrame(3, 0x1800, 0xFFFF);
  badLength[4] = 11;
  const std::vector<std::vector<std::uint8_t>> frames = {
      badHeader,
      badParameterCrc,
      badLength,
      commandFrame(3, 0x17FF, 0xFFFF),  // reaches into the loader
      commandFrame(3, 0x1900, 0x18FF),  // ends before it starts
      commandFrame(3, 0x1800, 0x10000),
      commandFrame(1, 0x1800, 0x1900),
      header(3),
      {0x01, 0x81, 0xFE},
  };
  const FlashModel before = device.state().flash;
  for (const auto& frame : frames) {
    FrameResult result = send(frame);
    EXPECT_FALSE(result.accepted) << hexBytes(frame);
    EXPECT_FALSE(result.note.empty());
    EXPECT_FALSE(acknowledged());
  }
  EXPECT_EQ(device.state().flash, before);
}

TEST_F(LoaderTest, ABlockWithABadCrcIsRefusedAndTheSameBlockCanBeSentAgain) {
  ASSERT_TRUE(sendAndAck(commandFrame(4, 0x2000, 0x207F)));
  const std::vector<std::uint8_t> payload(128, 0x12);
  auto corrupt = dataBlock(payload);
  corrupt[5] ^= 0x40;
  EXPECT_FALSE(send(corrupt).accepted);
  EXPECT_FALSE(acknowledged());
  EXPECT_EQ(device.state().flash.at(0x2000), 0xFF);
  // A command does not fit while the loader waits for data.
  EXPECT_FALSE(send(header(2)).accepted);
  EXPECT_TRUE(sendAndAck(dataBlock(payload)));
  EXPECT_EQ(device.state().flash.at(0x2000), 0x12);
  EXPECT_TRUE(sendAndAck(header(2)));
}

TEST_F(LoaderTest, ProgramsBlocksInOrderAndIgnoresPayloadPastTheRange) {
  ASSERT_TRUE(sendAndAck(commandFrame(3, 0x1800, 0xFFFF)));
  ASSERT_TRUE(sendAndAck(commandFrame(4, 0x2000, 0x2081)));  // two full blocks and two bytes
  ASSERT_TRUE(sendAndAck(dataBlock(std::vector<std::uint8_t>(128, 0x01))));
  ASSERT_TRUE(sendAndAck(dataBlock(std::vector<std::uint8_t>(2, 0x02))));
  const FlashModel& flash = device.state().flash;
  EXPECT_EQ(flash.at(0x2000), 0x01);
  EXPECT_EQ(flash.at(0x207F), 0x01);
  EXPECT_EQ(flash.at(0x2080), 0x02);
  EXPECT_EQ(flash.at(0x2081), 0x02);
  EXPECT_EQ(flash.at(0x2082), 0xFF);  // the padding stays out of flash
}

TEST_F(LoaderTest, AFullUpdateStartsTheNewApplicationOnlyAfterExit) {
  const auto image = test::makeImage(10272);
  auto frames = test::updateFrames(image);
  frames.erase(frames.begin());  // already in the loader
  // Command 1 without a command 2 before it is simply acknowledged.
  ASSERT_TRUE(sendAndAck(header(1)));
  EXPECT_EQ(device.state().mode, Mode::Loader);

  test::RunResult run = runFrames(frames, link());
  ASSERT_FALSE(run.failedFrame) << *run.failedFrame;
  EXPECT_EQ(run.polls.size(), 1 + 2 + 1 + 81 + 2 + 2);
  EXPECT_EQ(device.state().mode, Mode::Application);
  EXPECT_EQ(device.state().version, kDefaultImageVersion);
  EXPECT_TRUE(device.answersAt(kApplicationReadAddress));
  EXPECT_FALSE(device.answersAt(kLoaderAddress));
  EXPECT_TRUE(checkImage(device.state().flash).valid);
  // The information block survives the image being programmed over it.
  EXPECT_EQ(readInformationBlock(device.state().flash).length, 10232u);
}

TEST_F(LoaderTest, StartAfterExitStaysInTheLoaderWhenTheImageIsNotValid) {
  ASSERT_TRUE(sendAndAck(commandFrame(3, 0x1800, 0xFFFF)));
  ASSERT_TRUE(sendAndAck(header(2)));
  ASSERT_TRUE(send(header(1)).accepted);
  PollResult poll = device.pollAcknowledge(kLoaderAddress, now);
  EXPECT_TRUE(poll.acknowledged);
  EXPECT_NE(poll.note.find("not valid"), std::string::npos);
  EXPECT_EQ(device.state().mode, Mode::Loader);
}

TEST_F(LoaderTest, CrcCheckFailsOnAFlippedBit) {
  const auto image = test::makeImage(1024);
  ControllerOptions faulty = options();
  faulty.flipAfterProgramming = BitFlip{0x1900, 3};
  device = LedController(loaderState(), faulty);
  auto frames = test::updateFrames(image);
  frames.erase(frames.begin());
  test::RunResult run = runFrames(frames, link());
  ASSERT_TRUE(run.failedFrame);
  EXPECT_EQ(*run.failedFrame, frames.size() - 3);  // the expected-CRC frame
  EXPECT_EQ(device.state().flash.at(0x1900), image[0x100] ^ 0x08);

  // Without the fault the same check passes.
  device = LedController(loaderState(), options());
  EXPECT_FALSE(runFrames(frames, link()).failedFrame);
}

TEST(LedController, EraseKeepsPollsAtZeroForItsBusyTimeAndAckWaitsForTheNthPoll) {
  using namespace std::chrono_literals;
  ControllerOptions options;
  options.eraseTime = 5ms;
  options.ackAfterPolls = 3;
  DeviceState state = DeviceState::factoryNew(kDefaultVersion);
  state.mode = Mode::Loader;
  LedController device(state, options);
  ASSERT_TRUE(device.receiveFrame(kLoaderAddress, commandFrame(3, 0x1800, 0xFFFF), 0ms).accepted);
  EXPECT_FALSE(device.pollAcknowledge(kLoaderAddress, 1ms).acknowledged);
  EXPECT_FALSE(device.pollAcknowledge(kLoaderAddress, 2ms).acknowledged);
  EXPECT_FALSE(device.pollAcknowledge(kLoaderAddress, 4999us).acknowledged);  // third poll, busy
  EXPECT_TRUE(device.pollAcknowledge(kLoaderAddress, 5ms).acknowledged);

  ASSERT_TRUE(device.receiveFrame(kLoaderAddress, header(2), 6ms).accepted);
  EXPECT_FALSE(device.pollAcknowledge(kLoaderAddress, 6ms).acknowledged);
  EXPECT_FALSE(device.pollAcknowledge(kLoaderAddress, 6ms).acknowledged);
  EXPECT_TRUE(device.pollAcknowledge(kLoaderAddress, 6ms).acknowledged);
}

TEST(LedController, TheApplicationAnswersTheVersionAndHandsOverToTheLoaderOnItsAcknowledgement) {
  LedController device(DeviceState::factoryNew({0x40, 0x70, 0x00, 0x05}), ControllerOptions{});
  const VersionReply expected{0x81, 0, 0, 0, 0x40, 0x70, 0x00, 0x05};
  EXPECT_EQ(device.versionReply(), VersionReply{});  // no version write before the read
  device.requestVersion();
  EXPECT_EQ(device.versionReply(), expected);
  EXPECT_EQ(device.versionReply(), VersionReply{});  // one answer per write
  EXPECT_FALSE(device.answersAt(kLoaderAddress));

  EXPECT_FALSE(
      device.receiveFrame(kApplicationAddress, header(2), LedController::Time{0}).accepted);
  ASSERT_TRUE(device.receiveFrame(kApplicationAddress, header(1), LedController::Time{0}).accepted);
  EXPECT_TRUE(device.answersAt(kApplicationAddress));  // until it has acknowledged
  EXPECT_TRUE(device.pollAcknowledge(kApplicationAddress, LedController::Time{0}).acknowledged);
  EXPECT_FALSE(device.answersAt(kApplicationAddress));
  EXPECT_FALSE(device.answersAt(kApplicationReadAddress));
  EXPECT_TRUE(device.answersAt(kLoaderAddress));
}

}  // namespace
}  // namespace argb::emulator
