#pragma once

#include <cstdint>

#include "driver/NvApiTypes.h"

namespace argb::i2c {

// The controller sits on the GPU's I2C port 1.
inline constexpr std::uint8_t kControllerPort = 1;

// A record with the fields every transaction with the controller shares: version 3, no display
// mask, not a DDC port, the deprecated speed field with the 10 kHz code, port 1 with its flag.
inline driver::I2cInfo makeControllerRecord(std::uint8_t deviceAddress) {
  driver::I2cInfo record{};
  record.version = driver::kI2cInfoVersion3;
  record.displayMask = 0;
  record.bIsDDCPort = 0;
  record.i2cDevAddress = deviceAddress;
  record.i2cSpeed = driver::kI2cSpeedDeprecated;
  record.i2cSpeedKhz = driver::kI2cSpeedCode10Khz;
  record.portId = kControllerPort;
  record.bIsPortIdSet = 1;
  return record;
}

}  // namespace argb::i2c
