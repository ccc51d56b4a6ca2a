// The state file, the power-on rule and the configuration from the environment.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestSupport.h"
#include "emulator/DeviceStateFile.h"
#include "emulator/EmulatorConfig.h"
#include "emulator/ImageArea.h"

namespace argb::emulator {
namespace {

TEST(DeviceStateFile, RoundTripsModeVersionAndFlash) {
  DeviceState state = DeviceState::factoryNew({0x40, 0x70, 0x00, 0x07});
  state.mode = Mode::Loader;
  state.flash.erase(0x3000, 0x3FFF);
  const std::uint8_t bytes[] = {0x00, 0x5A};
  state.flash.program(0xFFFE, bytes);
  const std::string path = test::scratchPath(".state");
  ASSERT_EQ(saveDeviceState(path, state), "");
  StateFileLoad load = loadDeviceState(path);
  ASSERT_TRUE(load.state) << load.error;
  EXPECT_EQ(*load.state, state);
  EXPECT_EQ(std::filesystem::file_size(path), kStateFileLength);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  std::filesystem::remove(path);
}

TEST(DeviceStateFile, AMissingFileIsNoErrorButAForeignOneIs) {
  const std::string path = test::scratchPath(".state");
  StateFileLoad missing = loadDeviceState(path);
  EXPECT_FALSE(missing.state);
  EXPECT_EQ(missing.error, "");
  std::ofstream(path) << "not a state";
  StateFileLoad foreign = loadDeviceState(path);
  EXPECT_FALSE(foreign.state);
  EXPECT_NE(foreign.error, "");
  std::filesystem::remove(path);
}

TEST(DeviceState, PowerOnStartsTheApplicationOnlyFromAValidImage) {
  DeviceState state = DeviceState::factoryNew(kDefaultVersion);
  state.mode = Mode::Loader;
  ASSERT_TRUE(checkImage(state.flash).valid);
  state.powerOn();
  EXPECT_EQ(state.mode, Mode::Application);

  state.flash.invertBit(0x1830, 0);  // inside the image's CRC range
  state.powerOn();
  EXPECT_EQ(state.mode, Mode::Loader);

  state.flash.erase(0x1800, 0xFFFF);
  state.powerOn();
  EXPECT_EQ(state.mode, Mode::Loader);
  EXPECT_NE(checkImage(state.flash).problem, "");
}

TEST(EmulatorConfig, ReadsEveryKindOfValue) {
  ConfigResult result = test::configFrom({{"ARGB_EMU_VERSION", "40.71.0a.FF"},
                                          {"ARGB_EMU_INIT_STATUS", "-6"},
                                          {"ARGB_EMU_MISSING_IDS", "0x283AC65A,77"},
                                          {"ARGB_EMU_HOOKS", "begin"},
                                          {"ARGB_EMU_VERSION_BAD_READ_KIND", "ff"},
                                          {"ARGB_EMU_FLIP_BIT", "0x2000:7"},
                                          {"ARGB_EMU_ERASE_MS", "0x10"},
                                          {"ARGB_EMU_POWER_LOSS_AFTER_FRAME", "12"},
                                          {"ARGB_EMU_NO_CONTROLLER", "1"}});
  ASSERT_TRUE(result.errors.empty()) << result.errors.front();
  const EmulatorConfig& config = result.config;
  EXPECT_EQ(config.version, (FirmwareVersion{0x40, 0x71, 0x0A, 0xFF}));
  EXPECT_EQ(config.initStatus, -6);
  EXPECT_EQ(config.missingIds, (std::vector<std::uint32_t>{0x283AC65A, 77}));
  EXPECT_EQ(config.hooks, HookOffer::Begin);
  EXPECT_EQ(config.badReadKind, BadReadKind::AllOnes);
  ASSERT_TRUE(config.controller.flipAfterProgramming);
  EXPECT_EQ(config.controller.flipAfterProgramming->address, 0x2000u);
  EXPECT_EQ(config.controller.flipAfterProgramming->bit, 7u);
  EXPECT_EQ(config.controller.eraseTime, std::chrono::milliseconds(16));
  EXPECT_EQ(config.powerLossAfterFrame, 12u);
  EXPECT_TRUE(config.noController);
  EXPECT_EQ(config.controller.imageVersion, kDefaultImageVersion);
}

TEST(EmulatorConfig, ReportsEveryValueItCannotUse) {
  ConfigResult result = test::configFrom({{"ARGB_EMU_VERSION", "40.70.00"},
                                          {"ARGB_EMU_ACK_AFTER_POLLS", "0"},
                                          {"ARGB_EMU_FAIL_WRITE_FRAMES", "3,x"},
                                          {"ARGB_EMU_FLIP_BIT", "0x10000:1"},
                                          {"ARGB_EMU_HOOKS", "all"},
                                          {"ARGB_EMU_SILENT_LOADER", "yes"}});
  EXPECT_EQ(result.errors.size(), 6u);
  EXPECT_EQ(result.config.version, kDefaultVersion);
  EXPECT_EQ(result.config.controller.ackAfterPolls, 1u);
  EXPECT_TRUE(result.config.failWriteFrames.empty());
}

}  // namespace
}  // namespace argb::emulator
