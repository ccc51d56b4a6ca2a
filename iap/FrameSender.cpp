#include "iap/FrameSender.h"

namespace argb::iap {

namespace {

// Pause after each unacknowledged poll.
constexpr std::uint32_t kPollPauseMs = 1;
// Polls allowed beyond the budget itself.
constexpr std::uint64_t kExtraPolls = 2;

}  // namespace

FrameSender::FrameSender(i2c::I2cBus& bus, platform::Sleeper& sleeper, std::uint32_t address,
                         std::uint32_t budget)
    : bus_(bus), sleeper_(sleeper), address_(address), budget_(budget) {}

IapResult FrameSender::send(const std::uint8_t* data, std::uint32_t length) {
  const i2c::I2cFrame frame{address_, data, length};
  if (bus_.i2cWrite(frame) != 0) {
    return kIapInterfaceError;
  }
  // 64-bit so that no budget value can wrap the limit.
  const std::uint64_t pollLimit = budget_ + kExtraPolls;
  std::uint64_t misses = 0;
  // The first poll follows the write at once; the loader often answers without delay.
  while (!bus_.i2cPollAck(frame)) {
    ++misses;
    sleeper_.sleep(kPollPauseMs);
    if (misses >= pollLimit) {
      return kIapTimeout;
    }
  }
  return kIapOk;
}

}  // namespace argb::iap
