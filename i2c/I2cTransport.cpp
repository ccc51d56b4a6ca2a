#include "i2c/I2cTransport.h"

#include <cstring>

#include "i2c/I2cRecord.h"

namespace argb::i2c {
namespace {

constexpr std::uint32_t kWriteArgument = 0;
constexpr std::uint32_t kPollArgument = 1;

}  // namespace

std::int32_t I2cTransport::i2cInit() {
  // Only the enumeration's status counts: without a driver it fails too.
  nvApi_.NvAPI_Initialize();
  std::uint32_t gpuCount = 0;
  return nvApi_.NvAPI_EnumPhysicalGPUs(gpuHandles_.data(), &gpuCount);
}

std::int32_t I2cTransport::i2cWrite(const I2cFrame& frame) {
  if (frame.length > kMaxFrameLength || (frame.data == nullptr && frame.length != 0)) {
    return kStatusFrameRefused;
  }
  std::uint8_t transferBuffer[kMaxFrameLength];
  if (frame.length != 0) std::memcpy(transferBuffer, frame.data, frame.length);

  driver::I2cInfo record = makeControllerRecord(static_cast<std::uint8_t>(frame.deviceAddress));
  record.pbI2cRegAddress = nullptr;
  record.regAddrSize = 0;
  record.pbData = transferBuffer;
  record.cbSize = frame.length;
  std::uint32_t argument = kWriteArgument;
  return nvApi_.NvAPI_I2CWriteEx(gpuHandles_[0], &record, &argument);
}

std::int32_t I2cTransport::readAckReply(std::uint32_t address,
                                        std::uint8_t (&reply)[kAckReplyLength]) {
  // The driver wants a register pointer even when no register byte is sent.
  std::uint8_t registerScratch = 0;
  driver::I2cInfo record = makeControllerRecord(static_cast<std::uint8_t>(address));
  record.pbI2cRegAddress = &registerScratch;
  record.regAddrSize = 0;
  record.pbData = reply;
  record.cbSize = kAckReplyLength;
  std::uint32_t argument = kPollArgument;
  return nvApi_.NvAPI_I2CReadEx(gpuHandles_[0], &record, &argument);
}

std::int32_t I2cTransport::i2cProbe(std::uint32_t address) {
  std::uint8_t reply[kAckReplyLength] = {};
  return readAckReply(address, reply);
}

bool I2cTransport::i2cPollAck(const I2cFrame& frame) {
  std::uint8_t reply[kAckReplyLength] = {};
  if (readAckReply(frame.deviceAddress, reply) != driver::kNvApiOk) return false;
  const std::uint32_t value =
      static_cast<std::uint32_t>(reply[0]) | static_cast<std::uint32_t>(reply[1]) << 8 |
      static_cast<std::uint32_t>(reply[2]) << 16 | static_cast<std::uint32_t>(reply[3]) << 24;
  return value != 0;
}

}  // namespace argb::i2c
