// The tool's reading of a real trace: an update run through the emulated driver.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "DriverHarness.h"
#include "TestSupport.h"
#include "emulator/tool/StateReport.h"
#include "emulator/tool/TraceAnnotator.h"

namespace argb::tools {
namespace {

using emulator::test::DriverHarness;

std::vector<std::string> annotate(const std::string& path) {
  std::ifstream in(path);
  return annotateTrace(in);
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::ranges::find(lines, line) != lines.end();
}

TEST(TraceAnnotator, TellsTheStepsOfAnUpdate) {
  const std::string trace = emulator::test::scratchPath(".jsonl");
  const auto image = emulator::test::makeImage(10272);
  const std::uint16_t crc = emulator::test::imageCrc(image);
  {
    DriverHarness bus({{"ARGB_EMU_TRACE", trace}, {"ARGB_EMU_ACK_AFTER_POLLS", "2"}});
    emulator::FirmwareVersion version{};
    bus.readVersion(version);
    auto run = runFrames(emulator::test::updateFrames(image), bus.link());
    ASSERT_FALSE(run.failedFrame);
  }
  auto lines = annotate(trace);
  char crcText[8];
  std::snprintf(crcText, sizeof crcText, "0x%04X", crc);
  const std::vector<std::string> expected = {
      "run: the device starts in application mode, version 40.70.00.05, state fresh",
      "initialise: status 0",
      "enumerate GPUs: 1 GPU",
      "version query at 0xC0: 40.70.00.05",
      "start at 0xC0: acknowledged after 2 polls (the loader runs)",
      "erase 0x1800..0xFFFF: acknowledged after 5 polls",  // busy for 5 ms, one poll per ms
      "program 0x1820..0x1827: 1 block: acknowledged after 2 polls",
      "information block to 0x1820..0x1827: crc " + std::string(crcText) +
          ", length 10232: acknowledged after 2 polls",
      "program 0x1800..0x401F: 81 blocks: acknowledged after 2 polls",
      "block 1/81 to 0x1800: acknowledged after 2 polls",
  };
  ASSERT_GE(lines.size(), expected.size() + 81);
  EXPECT_EQ(std::vector(lines.begin(), lines.begin() + expected.size()), expected);
  EXPECT_TRUE(has(lines, "block 18/81 to 0x2080: acknowledged after 2 polls"));
  EXPECT_TRUE(has(lines, "check CRC 0x1828..0x401F, expected " + std::string(crcText) +
                             ": acknowledged after 2 polls"));
  EXPECT_EQ(
      lines.back(),
      "start at 0x44: acknowledged after 2 polls (the application runs, version 40.70.00.09)");
}

TEST(TraceAnnotator, TellsFailuresAndSkipsForeignLines) {
  const std::string trace = emulator::test::scratchPath(".jsonl");
  {
    DriverHarness bus({{"ARGB_EMU_TRACE", trace}, {"ARGB_EMU_FAIL_WRITE_FRAMES", "2"}});
    auto frames = emulator::test::updateFrames(emulator::test::makeImage(256));
    bus.write(0xC0, frames[1].bytes);  // an erase the application does not take
    for (int i = 0; i < 3; ++i) bus.poll(0xC0);
    bus.write(0xC0, frames[0].bytes);
  }
  std::ofstream(trace, std::ios::app) << "garbage\n";
  auto lines = annotate(trace);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3],
            "erase 0x1800..0xFFFF: not acknowledged after 3 polls "
            "(refused: the application takes only the start command)");
  EXPECT_EQ(lines[4], "start at 0xC0: write failed (status -7) (write fails)");
  EXPECT_EQ(lines[5], "line 9: not a trace line");
}

TEST(StateReport, ShowsModeVersionAndImage) {
  emulator::DeviceState state = emulator::DeviceState::factoryNew(emulator::kDefaultVersion);
  state.mode = emulator::Mode::Loader;
  auto lines = describeState(state);
  EXPECT_EQ(lines.front(), "mode: loader");
  EXPECT_EQ(lines[1], "version: 40.70.00.05");
  EXPECT_EQ(lines[lines.size() - 2], "image: valid");
  EXPECT_EQ(lines.back(), "at power-on: application");
  state.flash.erase(0x1800, 0xFFFF);
  lines = describeState(state);
  EXPECT_EQ(lines[lines.size() - 2], "image: not valid, information block marker 0xffff");
  EXPECT_EQ(lines.back(), "at power-on: loader");
}

}  // namespace
}  // namespace argb::tools
