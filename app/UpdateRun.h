#pragma once

#include <cstdint>

#include "app/UpdateSequence.h"
#include "i2c/I2cTransport.h"
#include "platform/Console.h"
#include "platform/Sleeper.h"

namespace argb::app {

// The run from the banner to the user's answer; a confirmed run hands over to the update sequence.
class UpdateRun {
 public:
  static constexpr int kVersionQueries = 5;
  static constexpr std::uint32_t kVersionRetryPauseMs = 300;

  UpdateRun(platform::Console& console, platform::Sleeper& sleeper, i2c::I2cTransport& transport,
            UpdateSequence& sequence)
      : console_(console), sleeper_(sleeper), transport_(transport), sequence_(sequence) {}

  // The process exit code.
  int run();

 private:
  void writeBanner();
  bool readVersion(std::uint8_t version[i2c::I2cTransport::kVersionLength]);
  static bool passesVersionGate(const std::uint8_t version[i2c::I2cTransport::kVersionLength]);
  int confirmAndContinue();

  platform::Console& console_;
  platform::Sleeper& sleeper_;
  i2c::I2cTransport& transport_;
  UpdateSequence& sequence_;
};

}  // namespace argb::app
