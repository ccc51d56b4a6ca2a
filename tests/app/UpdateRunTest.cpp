#include "app/UpdateRun.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "app/firmware/FirmwareImage.h"
#include "tests/support/FakePlatform.h"

namespace argb::app {
namespace {

// A driver whose controller answers the version query from a script: a version, or a failure.
class VersionScriptNvApi : public driver::NvApi {
 public:
  driver::NvApiStatus enumerateStatus = 0;
  std::deque<std::vector<std::uint8_t>> versions;  // empty entry: the read fails
  int versionReads = 0;

  driver::NvApiStatus NvAPI_Initialize() override { return 0; }
  driver::NvApiStatus NvAPI_EnumPhysicalGPUs(driver::GpuHandle handles[driver::kMaxPhysicalGpus],
                                             std::uint32_t* count) override {
    handles[0] = this;
    *count = 1;
    return enumerateStatus;
  }
  driver::NvApiStatus NvAPI_I2CWriteEx(driver::GpuHandle, driver::I2cInfo*,
                                       std::uint32_t*) override {
    return 0;
  }
  driver::NvApiStatus NvAPI_I2CReadEx(driver::GpuHandle, driver::I2cInfo* info,
                                      std::uint32_t*) override {
    ++versionReads;
    if (versions.empty() || versions.front().empty()) {
      if (!versions.empty()) versions.pop_front();
      return -1;
    }
    std::copy(versions.front().begin(), versions.front().end(), info->pbData + 4);
    versions.pop_front();
    return 0;
  }
};

class UpdateRunTest : public ::testing::Test {
 protected:
  int run() {
    i2c::I2cTransport transport(nvApi, fake);
    iap::UpdaterContext context(transport, fake);
    UpdateSequence sequence(fake, fake, context, kFirmwareImage, kFirmwareImageLength);
    UpdateRun updateRun(fake, fake, transport, sequence);
    return updateRun.run();
  }

  testing::FakePlatform fake;
  VersionScriptNvApi nvApi;
};

TEST_F(UpdateRunTest, FiveFailedQueriesGiveFourDotsAndFourPausesThenStop) {
  nvApi.versions = {{}, {0, 0x70, 0, 9}, {0xFF, 0x70, 0, 9}, {}, {0, 0, 0, 0}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(nvApi.versionReads, 5);
  const std::vector<std::string> expectedTail = {
      "F:Detected FW version", "S:.", "S:.", "S:.", "S:.", "F:Cannot get MCU FW version.\n"};
  ASSERT_GE(fake.writes.size(), expectedTail.size());
  EXPECT_EQ(std::vector<std::string>(fake.writes.end() - 6, fake.writes.end()), expectedTail);
  const std::vector<std::uint32_t> pauses = {50, 50,  300, 50, 50,  300, 50,
                                             50, 300, 50,  50, 300, 50,  50};
  EXPECT_EQ(fake.sleeps, pauses);
  EXPECT_EQ(fake.keyReads, 0);
}

TEST_F(UpdateRunTest, TheBannerIsFiveFormattedWrites) {
  nvApi.enumerateStatus = -2;
  EXPECT_EQ(run(), -1);
  ASSERT_EQ(fake.writes.size(), 6u);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(fake.writes[i].substr(0, 3), "F:\n") << i;
  EXPECT_EQ(fake.writes[5], "F:NvAPI initialization failed.\n");
  EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(UpdateRunTest, VersionBytesPrintAsLowerCaseHexWithLeadingZeros) {
  nvApi.versions = {{0x40, 0x70, 0xAB, 0x05}};
  fake.keys = {'n', 'x'};
  EXPECT_EQ(run(), 0);
  EXPECT_NE(fake.output.find("Detected FW version:40.70.ab.05\n"), std::string::npos);
}

TEST_F(UpdateRunTest, TheGateComparesTheSecondByteToo) {
  nvApi.versions = {{0x40, 0x07, 0x00, 0x09}};
  fake.keys = {'x'};
  EXPECT_EQ(run(), -1);
  EXPECT_NE(fake.output.find(":40.07.00.09\nAbnormal in FW version compare.\n"), std::string::npos);
  EXPECT_EQ(fake.keyReads, 1);
}

TEST_F(UpdateRunTest, TheAnswerIsEchoedAsOneRawCharacterWithStreamWrites) {
  nvApi.versions = {{0x40, 0x70, 0x00, 0x05}};
  fake.keys = {0xE0, 0x48};
  EXPECT_EQ(run(), 1);
  const std::vector<std::string> expected = {"S:* Target FW version:40.70.00.09 \n\n",
                                             "S:Do you want to continue? (Y/N): \n",
                                             "K",
                                             "S:You pressed the '",
                                             "S:\xE0",
                                             "S:' key.",
                                             "E",
                                             "S:Invalid input. Exiting...",
                                             "E",
                                             "S:\nPress anykey to close the update.",
                                             "E",
                                             "K"};
  ASSERT_GE(fake.writes.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(fake.writes.end() - 12, fake.writes.end()), expected);
  EXPECT_TRUE(fake.keys.empty()) << "the second code closed the run";
}

}  // namespace
}  // namespace argb::app
