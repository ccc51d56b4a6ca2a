// The driver glue: strict record checks, the version answer, the configured faults, the hooks,
// the state file between runs and the trace.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "DriverHarness.h"
#include "TestSupport.h"
#include "emulator/DeviceStateFile.h"
#include "emulator/TraceReader.h"

namespace argb::emulator {
namespace {

using test::DriverHarness;
using test::header;

std::vector<TraceRecord> readTrace(const std::string& path) {
  std::vector<TraceRecord> records;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    auto record = parseTraceLine(line);
    EXPECT_TRUE(record) << line;
    if (record) records.push_back(*record);
  }
  return records;
}

TEST(EmulatedDriver, AnswersTheVersionQueryWithTheConfiguredVersion) {
  DriverHarness bus({{"ARGB_EMU_VERSION", "40.70.00.07"}});
  FirmwareVersion version{};
  ASSERT_EQ(bus.readVersion(version), kStatusOk);
  const std::uint8_t expected[8] = {0x81, 0, 0, 0, 0x40, 0x70, 0x00, 0x07};
  EXPECT_TRUE(std::equal(expected, expected + 8, bus.reply));

  // A read without the version write before it gets no version.
  std::vector<std::uint8_t> received(8, 0xEE);
  I2cRecordV3 read = bus.frameRecord(0xC1, received);
  read.pbI2cRegAddress = &bus.registerByte;
  read.regAddrSize = 1;
  std::uint32_t arg = 0;
  ASSERT_EQ(bus.driver.i2cRead(bus.gpu, &read, &arg), kStatusOk);
  EXPECT_EQ(received, std::vector<std::uint8_t>(8, 0));
}

TEST(EmulatedDriver, RefusesEveryRecordThatAStrictDriverWouldRefuse) {
  DriverHarness bus({});
  std::uint32_t arg = 0;
  std::uint8_t wrongGpu = 0;
  const std::vector<std::pair<const char*, std::function<void(I2cRecordV3&)>>> mutations = {
      {"version word", [](I2cRecordV3& r) { r.version = 0x20040; }},
      {"display mask", [](I2cRecordV3& r) { r.displayMask = 1; }},
      {"DDC flag", [](I2cRecordV3& r) { r.bIsDDCPort = 1; }},
      {"port", [](I2cRecordV3& r) { r.portId = 0; }},
      {"port flag", [](I2cRecordV3& r) { r.bIsPortIdSet = 0; }},
      {"speed", [](I2cRecordV3& r) { r.i2cSpeed = 100; }},
      {"speed code", [](I2cRecordV3& r) { r.i2cSpeedKhz = 3; }},
      {"read address", [](I2cRecordV3& r) { r.i2cDevAddress = 0xC1; }},
      {"length", [](I2cRecordV3& r) { r.cbSize = 5; }},
      {"register pointer", [&](I2cRecordV3& r) { r.pbI2cRegAddress = &bus.registerByte; }},
      {"register size", [&](I2cRecordV3& r) { r.regAddrSize = 2; }},
      {"third argument", [&](I2cRecordV3&) { arg = 1; }},
  };
  for (const auto& [what, mutate] : mutations) {
    std::vector<std::uint8_t> start = header(1);
    I2cRecordV3 record = bus.frameRecord(0xC0, start);
    arg = 0;
    mutate(record);
    EXPECT_EQ(bus.driver.i2cWrite(bus.gpu, &record, &arg), kStatusMalformed) << what;
    EXPECT_EQ(bus.poll(0xC0), false) << what << ": the frame must have no effect";
  }
  std::vector<std::uint8_t> start = header(1);
  I2cRecordV3 record = bus.frameRecord(0xC0, start);
  EXPECT_EQ(bus.driver.i2cWrite(&wrongGpu, &record, &arg), kStatusMalformed);
  EXPECT_EQ(bus.driver.i2cWrite(bus.gpu, &record, nullptr), kStatusMalformed);

  // Reads: a poll needs the value 1 behind the third pointer and never goes to the read address.
  ASSERT_EQ(bus.write(0xC0, header(1)), kStatusOk);
  I2cRecordV3 poll = bus.pollRecord(0xC0);
  arg = 0;
  EXPECT_EQ(bus.driver.i2cRead(bus.gpu, &poll, &arg), kStatusMalformed);
  poll.i2cDevAddress = 0xC1;
  arg = 1;
  EXPECT_EQ(bus.driver.i2cRead(bus.gpu, &poll, &arg), kStatusMalformed);
  EXPECT_EQ(bus.poll(0xC0), true);
}

TEST(EmulatedDriver, NothingAnswersWhereNothingRuns) {
  DriverHarness bus({});
  EXPECT_EQ(bus.write(0x44, header(1)), kStatusNoDevice);
  ASSERT_EQ(bus.write(0xC0, header(1)), kStatusOk);
  ASSERT_EQ(bus.poll(0xC0), true);
  FirmwareVersion version{};
  EXPECT_EQ(bus.readVersion(version), kStatusNoDevice);
  EXPECT_EQ(bus.write(0xC0, header(1)), kStatusNoDevice);
  EXPECT_EQ(bus.write(0x44, header(1)), kStatusOk);

  DriverHarness absent({{"ARGB_EMU_NO_CONTROLLER", "1"}});
  EXPECT_EQ(absent.readVersion(version), kStatusNoDevice);
  EXPECT_EQ(absent.write(0xC0, header(1)), kStatusNoDevice);
}

TEST(EmulatedDriver, TheFirstVersionReadsGoBadAsConfigured) {
  FirmwareVersion version{};
  DriverHarness failing({{"ARGB_EMU_VERSION_BAD_READS", "2"}});
  EXPECT_EQ(failing.readVersion(version), kStatusInjectedFault);
  EXPECT_EQ(failing.readVersion(version), kStatusInjectedFault);
  EXPECT_EQ(failing.readVersion(version), kStatusOk);
  EXPECT_EQ(version, kDefaultVersion);

  DriverHarness zeros(
      {{"ARGB_EMU_VERSION_BAD_READS", "1"}, {"ARGB_EMU_VERSION_BAD_READ_KIND", "00"}});
  EXPECT_EQ(zeros.readVersion(version), kStatusOk);
  EXPECT_EQ(version, (FirmwareVersion{0, 0, 0, 0}));
}

TEST(EmulatedDriver, InitialiseAndEnumerationFailAsConfigured) {
  DriverHarness bus({{"ARGB_EMU_INIT_STATUS", "-6"}}, false);
  EXPECT_EQ(bus.driver.initialize(), -6);
  GpuHandle handles[kMaxPhysicalGpus] = {};
  std::uint32_t count = 0;
  EXPECT_EQ(bus.driver.enumPhysicalGpus(handles, &count), kStatusNotInitialised);

  DriverHarness noGpu({{"ARGB_EMU_ENUM_STATUS", "-101"}}, false);
  EXPECT_EQ(noGpu.driver.initialize(), kStatusOk);
  EXPECT_EQ(noGpu.driver.enumPhysicalGpus(handles, &count), -101);
}

TEST(EmulatedDriver, OffersWhatIsConfiguredAndNothingOnAConfigurationError) {
  DriverHarness bus({{"ARGB_EMU_MISSING_IDS", "0x283AC65A"}, {"ARGB_EMU_HOOKS", "end"}}, false);
  EXPECT_TRUE(bus.driver.offers(kIdInitialize));
  EXPECT_TRUE(bus.driver.offers(kIdI2cReadEx));
  EXPECT_FALSE(bus.driver.offers(kIdI2cWriteEx));
  EXPECT_FALSE(bus.driver.offers(kIdCallBeginHook));
  EXPECT_TRUE(bus.driver.offers(kIdCallEndHook));
  EXPECT_FALSE(bus.driver.offers(0x12345678));

  DriverHarness broken({{"ARGB_EMU_ACK_AFTER_POLLS", "soon"}}, false);
  EXPECT_FALSE(broken.driver.offers(kIdInitialize));

  // A state path naming some other file is an error too, and the file is left alone.
  const std::string foreign = test::scratchPath(".txt");
  std::ofstream(foreign) << "notes";
  DriverHarness misnamed({{"ARGB_EMU_STATE", foreign}}, false);
  EXPECT_FALSE(misnamed.driver.offers(kIdInitialize));
  std::ifstream in(foreign);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "notes");
}

TEST(EmulatedDriver, FramesFailOrGoUnacknowledgedAsConfigured) {
  // Frame 1 is the start at 0xC0, frame 2 the repeated start, frame 3 the erase.
  DriverHarness bus({{"ARGB_EMU_FAIL_WRITE_FRAMES", "1"}, {"ARGB_EMU_NO_ACK_FRAMES", "2"}});
  EXPECT_EQ(bus.write(0xC0, header(1)), kStatusInjectedFault);
  EXPECT_EQ(bus.poll(0xC0), false);
  EXPECT_EQ(bus.write(0xC0, header(1)), kStatusOk);
  EXPECT_EQ(bus.poll(0xC0), false);
  EXPECT_EQ(bus.poll(0xC0), false);
  EXPECT_EQ(bus.write(0xC0, header(1)), kStatusOk);
  EXPECT_EQ(bus.poll(0xC0), true);
}

TEST(EmulatedDriver, PowerLossKeepsTheStateAsWrittenAndTheNextRunStartsInTheLoader) {
  const std::string state = test::scratchPath(".state");
  {
    // Frame 2 is the erase: the image area is gone when the power goes.
    DriverHarness bus({{"ARGB_EMU_STATE", state}, {"ARGB_EMU_POWER_LOSS_AFTER_FRAME", "2"}});
    auto frames = test::updateFrames(test::makeImage(1024));
    auto run = runFrames(frames, bus.link());
    EXPECT_EQ(run.failedFrame, 1u);
    EXPECT_EQ(bus.write(0x44, header(1)), kStatusNoDevice);
  }
  DriverHarness nextRun({{"ARGB_EMU_STATE", state}});
  EXPECT_EQ(nextRun.driver.deviceState().mode, Mode::Loader);
  FirmwareVersion version{};
  EXPECT_EQ(nextRun.readVersion(version), kStatusNoDevice);
  EXPECT_EQ(nextRun.write(0x44, header(1)), kStatusOk);
  EXPECT_EQ(nextRun.poll(0x44), true);
}

TEST(EmulatedDriver, AnUpdateIsKeptInTheStateFileAndTracedCallByCall) {
  const std::string state = test::scratchPath(".state");
  const std::string trace = test::scratchPath(".jsonl");
  const auto image = test::makeImage(10272);
  {
    DriverHarness bus({{"ARGB_EMU_STATE", state}, {"ARGB_EMU_TRACE", trace}});
    FirmwareVersion version{};
    ASSERT_EQ(bus.readVersion(version), kStatusOk);
    EXPECT_EQ(version, kDefaultVersion);
    auto run = runFrames(test::updateFrames(image), bus.link());
    ASSERT_FALSE(run.failedFrame) << *run.failedFrame;
  }
  DriverHarness nextRun({{"ARGB_EMU_STATE", state}, {"ARGB_EMU_IMAGE_VERSION", "40.70.00.99"}});
  FirmwareVersion version{};
  ASSERT_EQ(nextRun.readVersion(version), kStatusOk);
  EXPECT_EQ(version, kDefaultImageVersion);
  const FlashModel flash = nextRun.driver.deviceState().flash;
  EXPECT_TRUE(std::equal(image.begin() + 40, image.end(), flash.all().begin() + 0x1828));

  auto records = readTrace(trace);
  ASSERT_GE(records.size(), 4u);
  EXPECT_EQ(records[0].text("fn"), "emulator-start");
  EXPECT_EQ(records[0].text("state"), "created");
  const TraceRecord& versionWrite = records[3];
  EXPECT_EQ(versionWrite.text("fn"), "NvAPI_I2CWriteEx");
  EXPECT_EQ(versionWrite.text("dev"), "0xc0");
  EXPECT_EQ(versionWrite.text("version"), "0x30040");
  EXPECT_EQ(versionWrite.text("reg"), "81");
  EXPECT_EQ(versionWrite.text("data"), "00000000000000");
  EXPECT_EQ(versionWrite.text("speed"), "0xffff");
  EXPECT_EQ(versionWrite.number("speedKhz"), 2);
  EXPECT_EQ(versionWrite.number("port"), 1);
  EXPECT_EQ(versionWrite.number("arg"), 0);
  EXPECT_EQ(versionWrite.number("status"), 0);
  EXPECT_EQ(records[4].text("data"), "8100000040700005");
  EXPECT_EQ(records[5].text("data"), "0181fe7e");
  EXPECT_EQ(records[5].number("frame"), 1);
  EXPECT_EQ(records[6].text("data"), "01000000");
  EXPECT_EQ(records[6].text("note"), "the loader runs");
}

TEST(EmulatedDriver, ChecksThatTheHooksBracketEachCallWithTheCookieTheBeginLeft) {
  const std::string trace = test::scratchPath(".jsonl");
  // Polls that are never acknowledged keep the device's own notes out of the trace.
  DriverHarness bus({{"ARGB_EMU_TRACE", trace}, {"ARGB_EMU_ACK_AFTER_POLLS", "100"}});
  ASSERT_TRUE(bus.driver.offers(kIdCallBeginHook));
  ASSERT_TRUE(bus.driver.offers(kIdCallEndHook));
  std::uint64_t cookie = 0;
  bus.driver.callBegin(kIdI2cWriteEx, &cookie);
  EXPECT_NE(cookie, 0u);
  const std::int32_t status = bus.write(0xC0, header(1));
  bus.driver.callEnd(kIdI2cWriteEx, cookie, status);

  bus.driver.callBegin(kIdI2cReadEx, &cookie);  // the cookie was not set to 0
  bus.poll(0xC0);
  bus.driver.callEnd(kIdI2cReadEx, 0, kStatusOk);  // nor kept
  bus.poll(0xC0);                                  // and no hooks at all

  std::vector<std::string> notes;
  for (const auto& record : readTrace(trace)) {
    if (!record.text("note").empty())
      notes.push_back(record.text("fn") + ": " + record.text("note"));
  }
  ASSERT_EQ(notes.size(), 3u) << ::testing::PrintToString(notes);
  EXPECT_EQ(notes[0], "CallBeginHook: cookie not 0");
  EXPECT_EQ(notes[1], "CallEndHook: the begin hook left cookie 2");
  EXPECT_EQ(notes[2], "NvAPI_I2CReadEx: called without the begin hook");
}

}  // namespace
}  // namespace argb::emulator
