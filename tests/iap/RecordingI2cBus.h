#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "i2c/I2cBus.h"
#include "platform/Sleeper.h"

namespace argb::iap::test {

// Bus and sleeper in one, so writes, polls and pauses land in a single ordered log. The loader it
// stands for misses a set number of polls per frame before acknowledging, or never answers.
class RecordingI2cBus : public i2c::I2cBus, public platform::Sleeper {
 public:
  enum class Kind { kWrite, kPoll, kSleep };
  struct Event {
    Kind kind;
    std::uint32_t value;  // bus address, or milliseconds for a pause
    std::vector<std::uint8_t> bytes;
  };

  // Unacknowledged polls before each frame's acknowledgement; nullopt: never acknowledges.
  std::optional<std::uint32_t> missesPerFrame = 0;
  // Index (0-based, counting all writes) of a write that fails with status -1.
  std::optional<std::size_t> failingWrite;

  std::int32_t i2cWrite(const i2c::I2cFrame& frame) override {
    log.push_back({Kind::kWrite, frame.deviceAddress, {frame.data, frame.data + frame.length}});
    missesSoFar_ = 0;
    return failingWrite == writeCount_++ ? -1 : 0;
  }

  bool i2cPollAck(const i2c::I2cFrame& frame) override {
    log.push_back({Kind::kPoll, frame.deviceAddress, {}});
    if (!missesPerFrame || missesSoFar_ < *missesPerFrame) {
      ++missesSoFar_;
      return false;
    }
    return true;
  }

  void sleep(std::uint32_t milliseconds) override {
    log.push_back({Kind::kSleep, milliseconds, {}});
  }

  std::vector<Event> writes() const { return only(Kind::kWrite); }
  std::size_t count(Kind kind) const { return only(kind).size(); }

  std::vector<Event> log;

 private:
  std::vector<Event> only(Kind kind) const {
    std::vector<Event> picked;
    for (const Event& event : log) {
      if (event.kind == kind) {
        picked.push_back(event);
      }
    }
    return picked;
  }

  std::uint32_t missesSoFar_ = 0;
  std::size_t writeCount_ = 0;
};

}  // namespace argb::iap::test
