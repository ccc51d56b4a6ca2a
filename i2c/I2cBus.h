#pragma once

#include <cstdint>

#include "i2c/I2cFrame.h"

namespace argb::i2c {

// What the IAP client needs from the bus: one write per frame and one acknowledgement read per
// poll.
class I2cBus {
 public:
  virtual ~I2cBus() = default;
  // The driver's status of the write; 0 is success.
  virtual std::int32_t i2cWrite(const I2cFrame& frame) = 0;
  // One 4-byte read at the frame's address: true when it succeeded and was not all zero.
  virtual bool i2cPollAck(const I2cFrame& frame) = 0;
};

}  // namespace argb::i2c
