#include "app/UpdateRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

#include "app/ConsoleTexts.h"
#include "app/firmware/FirmwareImage.h"
#include "tests/support/FakePlatform.h"

namespace argb::app {
namespace {

std::string transaction(const char* kind, const driver::I2cInfo* info) {
  char text[32];
  std::snprintf(text, sizeof text, "%s 0x%02X", kind, static_cast<unsigned>(info->i2cDevAddress));
  return text;
}

// A driver whose controller answers the version query from a script: a version, or a failure.
// Acknowledgement reads (no register byte) get `loaderStatus` and, on 0, an acknowledgement.
// Every call joins the platform's timeline.
class VersionScriptNvApi : public driver::NvApi {
 public:
  explicit VersionScriptNvApi(std::vector<std::string>& timeline) : timeline_(timeline) {}

  driver::NvApiStatus enumerateStatus = 0;
  std::deque<std::vector<std::uint8_t>> versions;  // empty entry: the read fails
  driver::NvApiStatus loaderStatus = -1;
  int versionReads = 0;
  int driverCalls = 0;

  driver::NvApiStatus NvAPI_Initialize() override {
    ++driverCalls;
    return 0;
  }
  driver::NvApiStatus NvAPI_EnumPhysicalGPUs(driver::GpuHandle handles[driver::kMaxPhysicalGpus],
                                             std::uint32_t* count) override {
    ++driverCalls;
    handles[0] = this;
    *count = 1;
    return enumerateStatus;
  }
  driver::NvApiStatus NvAPI_I2CWriteEx(driver::GpuHandle, driver::I2cInfo* info,
                                       std::uint32_t*) override {
    ++driverCalls;
    timeline_.push_back(transaction("write", info));
    return 0;
  }
  driver::NvApiStatus NvAPI_I2CReadEx(driver::GpuHandle, driver::I2cInfo* info,
                                      std::uint32_t*) override {
    ++driverCalls;
    timeline_.push_back(transaction("read", info));
    if (info->regAddrSize == 0) {
      if (loaderStatus == 0) info->pbData[0] = 1;
      return loaderStatus;
    }
    ++versionReads;
    if (versions.empty() || versions.front().empty()) {
      if (!versions.empty()) versions.pop_front();
      return -1;
    }
    std::copy(versions.front().begin(), versions.front().end(), info->pbData + 4);
    versions.pop_front();
    return 0;
  }

 private:
  std::vector<std::string>& timeline_;
};

// The whole run, from the banner to its exit code, over one platform fake and one driver.
int runWith(testing::FakePlatform& platform, VersionScriptNvApi& driver) {
  i2c::I2cTransport transport(driver, platform);
  iap::UpdaterContext context(transport, platform);
  UpdateSequence sequence(platform, platform, platform, context, kFirmwareImage,
                          kFirmwareImageLength);
  return UpdateRun(platform, platform, transport, sequence, platform, platform).run();
}

class UpdateRunTest : public ::testing::Test {
 protected:
  int run() { return runWith(fake, nvApi); }

  // The timeline from the first entry equal to `first` on.
  std::vector<std::string> timelineFrom(const std::string& first) const {
    const auto start = std::find(fake.timeline.begin(), fake.timeline.end(), first);
    return {start, fake.timeline.end()};
  }

  testing::FakePlatform fake;
  VersionScriptNvApi nvApi{fake.timeline};
};

// Each query: its write, 50 ms, its read, 50 ms; then a dot and 300 ms unless it counted.
TEST_F(UpdateRunTest, VersionQueriesHappenInThisOrder) {
  nvApi.versions = {{}, {0, 0, 0, 0}, {0x40, 0x70, 0x00, 0x05}};
  fake.keys = {'n', 'x'};
  EXPECT_EQ(run(), 0);
  std::vector<std::string> expected = {"F:Detected FW version"};
  for (int query = 0; query < 3; ++query) {
    expected.insert(expected.end(), {"write 0xC0", "sleep 50", "read 0xC1", "sleep 50"});
    if (query < 2) expected.insert(expected.end(), {"S:.", "sleep 300"});
  }
  expected.insert(expected.end(), {"F::40.70.00.05\n", "S:* Target FW version:40.70.00.09 \n\n",
                                   "D", "S:Do you want to continue? (Y/N): \n", "K"});
  const auto answered = timelineFrom("F:Detected FW version");
  ASSERT_GE(answered.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(answered.begin(), answered.begin() + expected.size()),
            expected);
  EXPECT_EQ(fake.timeline.front(), "F:\n================================");
  EXPECT_EQ(fake.timeline[5], "lock") << "taken right after the banner";
}

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

TEST_F(UpdateRunTest, EarlyEndingsKeepTheirTextOnScreenOnlyWhereTheWindowClosesWithTheProgram) {
  struct Case {
    const char* name;
    platform::RunLock::Outcome lock;
    driver::NvApiStatus enumerate;
    const char* lastText;
  };
  const Case cases[] = {
      {"another run", platform::RunLock::Outcome::kHeldByAnotherRun, 0,
       "F:Another update is running. Let it finish, then start this program again.\n"},
      {"no lock", platform::RunLock::Outcome::kFailed, 0,
       "F:Cannot take the lock that keeps to one update at a time (/run/x.lock: Permission "
       "denied).\n"},
      {"no driver", platform::RunLock::Outcome::kTaken, -2, "F:NvAPI initialization failed.\n"},
      {"no controller", platform::RunLock::Outcome::kTaken, 0, "F:Cannot get MCU FW version.\n"},
  };
  for (const Case& c : cases) {
    for (const bool closes : {false, true}) {
      testing::FakePlatform platform;
      VersionScriptNvApi driver(platform.timeline);
      platform.lockResult = {c.lock, "/run/x.lock: Permission denied"};
      platform.consoleClosesWithProgram = closes;
      driver.enumerateStatus = c.enumerate;
      EXPECT_EQ(runWith(platform, driver), -1);
      std::vector<std::string> ending = {c.lastText};
      if (closes)
        ending.insert(ending.end(), {"D", "S:\nPress anykey to close the update.", "E", "K"});
      ASSERT_GE(platform.writes.size(), ending.size()) << c.name;
      EXPECT_EQ(std::vector<std::string>(platform.writes.end() - static_cast<long>(ending.size()),
                                         platform.writes.end()),
                ending)
          << c.name << " closes: " << closes;
      if (c.lock != platform::RunLock::Outcome::kTaken) {
        EXPECT_EQ(driver.driverCalls, 0) << c.name;
        EXPECT_EQ(platform.writes.size(), 6u + ending.size() - 1) << c.name;
      }
    }
  }
}

// Only the loader answers: one probe read at its address is all that reaches the bus between the
// last version query and the answer, and only a 'Y' starts the update, there. (The texts are
// checked end to end.)
TEST_F(UpdateRunTest, AControllerLeftInItsLoaderIsOfferedItsFirmwareBack) {
  for (const int key : {'y', 'N', '\r'}) {
    testing::FakePlatform platform;
    VersionScriptNvApi driver(platform.timeline);
    driver.loaderStatus = 0;
    platform.keys = {key, 'x'};
    EXPECT_EQ(runWith(platform, driver), key == 'y' ? 0 : -1);
    const auto& timeline = platform.timeline;
    const auto cannot =
        std::find(timeline.begin(), timeline.end(), "F:Cannot get MCU FW version.\n");
    const auto answer = std::find(cannot, timeline.end(), "K");
    ASSERT_NE(answer, timeline.end());
    std::vector<std::string> bus;
    std::copy_if(cannot, answer, std::back_inserter(bus), [](const std::string& entry) {
      return entry.rfind("read", 0) == 0 || entry.rfind("write", 0) == 0;
    });
    EXPECT_EQ(bus, std::vector<std::string>{"read 0x44"});
    EXPECT_EQ(std::count(cannot, timeline.end(), "write 0x44"), key == 'y' ? 90 : 0);
    EXPECT_EQ(std::count(cannot, timeline.end(), "write 0xC0"), 0);
    EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "guard enter"), key == 'y' ? 1 : 0);
  }
}

TEST_F(UpdateRunTest, NoAnswerAtTheLoaderAddressEndsAsBefore) {
  nvApi.versions = {{}, {}, {}, {}, {}};
  EXPECT_EQ(run(), -1);
  EXPECT_EQ(timelineFrom("F:Cannot get MCU FW version.\n"),
            (std::vector<std::string>{"F:Cannot get MCU FW version.\n", "read 0x44"}));
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
  // An arrow key as a console gives it: the first code only, the second is the console's to take.
  fake.keys = {0xE0, 'x'};
  EXPECT_EQ(run(), 1);
  const std::vector<std::string> expected = {"S:* Target FW version:40.70.00.09 \n\n",
                                             "D",
                                             "S:Do you want to continue? (Y/N): \n",
                                             "K",
                                             "S:You pressed the '",
                                             "S:\xE0",
                                             "S:' key.",
                                             "E",
                                             "S:Invalid input. Exiting...",
                                             "E",
                                             "D",
                                             "S:\nPress anykey to close the update.",
                                             "E",
                                             "K"};
  ASSERT_GE(fake.writes.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(fake.writes.end() - 14, fake.writes.end()), expected);
}

TEST_F(UpdateRunTest, InputThatHasEndedAnswersNothing) {
  nvApi.versions = {{0x40, 0x70, 0x00, 0x05}};
  // No keys: every read finds the input at its end.
  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(fake.output.ends_with("(Y/N): \nInvalid input. Exiting...\n" +
                                    std::string(kClosingPrompt) + "\n"));
}

TEST_F(UpdateRunTest, OnlyAYesStartsTheWritePhase) {
  for (const int key : {'Y', 'n', 'q'}) {
    testing::FakePlatform platform;
    VersionScriptNvApi driver(platform.timeline);
    driver.versions = {{0x40, 0x70, 0x00, 0x05}};
    driver.loaderStatus = 0;
    platform.keys = {key, 'x'};
    runWith(platform, driver);
    const auto enter = std::find(platform.timeline.begin(), platform.timeline.end(), "guard enter");
    if (key != 'Y') {
      EXPECT_EQ(enter, platform.timeline.end()) << static_cast<char>(key);
      continue;
    }
    ASSERT_NE(enter, platform.timeline.end());
    EXPECT_EQ(*(enter - 1), "E") << "after the echo of the answer";
    EXPECT_EQ(*(enter + 1), "S:Continuing...\n") << "before the first text of the update";
  }
}

}  // namespace
}  // namespace argb::app
