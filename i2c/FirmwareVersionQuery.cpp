#include <algorithm>

#include "i2c/I2cFrame.h"
#include "i2c/I2cRecord.h"
#include "i2c/I2cTransport.h"

namespace argb::i2c {
namespace {

constexpr std::uint32_t kRequestLength = 7;
constexpr std::uint32_t kResponseLength = 8;
constexpr std::uint32_t kVersionOffsetInResponse = 4;
// The application firmware needs this long to prepare its answer, and again before the next
// request.
constexpr std::uint32_t kVersionQueryPauseMs = 50;

}  // namespace

std::int32_t I2cTransport::readFwVersion(std::uint8_t version[kVersionLength]) {
  std::uint8_t versionRegister = kVersionRegister;
  std::uint8_t request[kRequestLength] = {};
  driver::I2cInfo record = makeControllerRecord(static_cast<std::uint8_t>(kApplicationAddress));
  record.pbI2cRegAddress = &versionRegister;
  record.regAddrSize = 1;
  record.pbData = request;
  record.cbSize = kRequestLength;
  // One variable serves both transactions, as the driver saw it after the write.
  std::uint32_t argument = 0;
  // A failed write shows only in what the read returns.
  nvApi_.NvAPI_I2CWriteEx(gpuHandles_[0], &record, &argument);
  sleeper_.sleep(kVersionQueryPauseMs);

  std::uint8_t response[kResponseLength] = {};
  record.i2cDevAddress = static_cast<std::uint8_t>(kApplicationReadAddress);
  record.pbData = response;
  record.cbSize = kResponseLength;
  const std::int32_t status = nvApi_.NvAPI_I2CReadEx(gpuHandles_[0], &record, &argument);
  if (status == driver::kNvApiOk) {
    std::copy_n(response + kVersionOffsetInResponse, kVersionLength, version);
  }
  sleeper_.sleep(kVersionQueryPauseMs);
  return status;
}

}  // namespace argb::i2c
