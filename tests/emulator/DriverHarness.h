#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "UpdateFrames.h"
#include "emulator/EmulatedDriver.h"

namespace argb::emulator::test {

// Calls an EmulatedDriver the way the updater does, with a clock that moves 1 ms per poll.
class DriverHarness {
 public:
  // Initialises and enumerates unless `initialise` is false.
  using Variable = std::pair<const std::string, std::string>;
  explicit DriverHarness(std::initializer_list<Variable> environment, bool initialise = true);

  // A record as the updater fills it for a frame write or an acknowledgement poll.
  I2cRecordV3 frameRecord(std::uint8_t address, std::vector<std::uint8_t>& data);
  I2cRecordV3 pollRecord(std::uint8_t address);

  std::int32_t write(std::uint8_t address, std::vector<std::uint8_t> frame);
  // nullopt when the read fails.
  std::optional<bool> poll(std::uint8_t address);
  // The version query's two transactions; the read's status.
  std::int32_t readVersion(FirmwareVersion& version);

  Link link();

  std::chrono::microseconds time{0};
  EmulatedDriver driver;
  GpuHandle gpu = nullptr;
  std::uint8_t registerByte = 0x81;
  std::uint8_t scratch = 0;
  std::uint8_t reply[8] = {};
};

}  // namespace argb::emulator::test
