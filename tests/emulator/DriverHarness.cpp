#include "DriverHarness.h"

#include "TestSupport.h"

namespace argb::emulator::test {

DriverHarness::DriverHarness(std::initializer_list<Variable> environment, bool initialise)
    : driver(configFrom(std::map<std::string, std::string>(environment)), [this] { return time; }) {
  if (!initialise) return;
  GpuHandle handles[kMaxPhysicalGpus] = {};
  std::uint32_t count = 0;
  driver.initialize();
  driver.enumPhysicalGpus(handles, &count);
  gpu = handles[0];
}

I2cRecordV3 DriverHarness::frameRecord(std::uint8_t address, std::vector<std::uint8_t>& data) {
  I2cRecordV3 record{};
  record.version = kRecordVersion3;
  record.i2cDevAddress = address;
  record.pbData = data.data();
  record.cbSize = static_cast<std::uint32_t>(data.size());
  record.i2cSpeed = 0xFFFF;
  record.i2cSpeedKhz = 2;
  record.portId = 1;
  record.bIsPortIdSet = 1;
  return record;
}

I2cRecordV3 DriverHarness::pollRecord(std::uint8_t address) {
  static std::vector<std::uint8_t> unused;
  I2cRecordV3 record = frameRecord(address, unused);
  record.pbI2cRegAddress = &scratch;
  record.pbData = reply;
  record.cbSize = 4;
  return record;
}

std::int32_t DriverHarness::write(std::uint8_t address, std::vector<std::uint8_t> frame) {
  I2cRecordV3 record = frameRecord(address, frame);
  std::uint32_t arg = 0;
  return driver.i2cWrite(gpu, &record, &arg);
}

std::optional<bool> DriverHarness::poll(std::uint8_t address) {
  time += std::chrono::milliseconds(1);
  I2cRecordV3 record = pollRecord(address);
  std::uint32_t arg = 1;
  std::fill(std::begin(reply), std::end(reply), 0xEE);
  if (driver.i2cRead(gpu, &record, &arg) != kStatusOk) return std::nullopt;
  return reply[0] != 0 || reply[1] != 0 || reply[2] != 0 || reply[3] != 0;
}

std::int32_t DriverHarness::readVersion(FirmwareVersion& version) {
  std::vector<std::uint8_t> zeros(7, 0);
  I2cRecordV3 record = frameRecord(0xC0, zeros);
  record.pbI2cRegAddress = &registerByte;
  record.regAddrSize = 1;
  std::uint32_t arg = 0;
  driver.i2cWrite(gpu, &record, &arg);
  std::fill(std::begin(reply), std::end(reply), 0);
  record.i2cDevAddress = 0xC1;
  record.pbData = reply;
  record.cbSize = 8;
  std::int32_t status = driver.i2cRead(gpu, &record, &arg);
  if (status == kStatusOk) std::copy(reply + 4, reply + 8, version.begin());
  return status;
}

Link DriverHarness::link() {
  return {[this](std::uint8_t address, std::span<const std::uint8_t> frame) {
            return write(address, {frame.begin(), frame.end()}) == kStatusOk;
          },
          [this](std::uint8_t address) { return poll(address).value_or(false); }};
}

}  // namespace argb::emulator::test
