#pragma once

#include <array>
#include <cstdint>

#include "driver/NvApi.h"
#include "i2c/I2cBus.h"
#include "platform/Sleeper.h"

namespace argb::i2c {

// Status of a frame that does not fit the transfer buffer; it is never handed to the driver.
inline constexpr std::int32_t kStatusFrameRefused = -5;

// Every exchange with the controller: one driver I2C transaction on the first GPU, port 1.
class I2cTransport final : public I2cBus {
 public:
  static constexpr std::uint8_t kVersionRegister = 0x81;
  static constexpr std::uint32_t kVersionLength = 4;

  I2cTransport(driver::NvApi& nvApi, platform::Sleeper& sleeper)
      : nvApi_(nvApi), sleeper_(sleeper) {}

  // Initialises the driver and takes the GPU handles; the enumeration's status.
  std::int32_t i2cInit();
  std::int32_t i2cWrite(const I2cFrame& frame) override;
  bool i2cPollAck(const I2cFrame& frame) override;
  // One read like an acknowledgement poll at `address`, judged by the driver's status alone: 0
  // means something answers there. Tells a controller left in its loader from no controller at all.
  std::int32_t i2cProbe(std::uint32_t address);
  // Reads the application firmware's 4-byte version; on a failed read `version` is untouched.
  std::int32_t readFwVersion(std::uint8_t version[kVersionLength]);

  const std::array<driver::GpuHandle, driver::kMaxPhysicalGpus>& gpuHandles() const {
    return gpuHandles_;
  }

 private:
  static constexpr std::uint32_t kAckReplyLength = 4;
  // The 4-byte acknowledgement read at `address`; the driver's status.
  std::int32_t readAckReply(std::uint32_t address, std::uint8_t (&reply)[kAckReplyLength]);

  driver::NvApi& nvApi_;
  platform::Sleeper& sleeper_;
  std::array<driver::GpuHandle, driver::kMaxPhysicalGpus> gpuHandles_{};
};

}  // namespace argb::i2c
