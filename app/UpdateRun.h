#pragma once

#include <cstdint>

#include "app/UpdateSequence.h"
#include "i2c/I2cTransport.h"
#include "platform/Console.h"
#include "platform/RunLock.h"
#include "platform/Sleeper.h"
#include "platform/WritePhaseGuard.h"

namespace argb::app {

// The run from the banner to the user's answer; a confirmed run hands over to the update sequence.
class UpdateRun {
 public:
  static constexpr int kVersionQueries = 5;
  static constexpr std::uint32_t kVersionRetryPauseMs = 300;

  UpdateRun(platform::Console& console, platform::Sleeper& sleeper, i2c::I2cTransport& transport,
            UpdateSequence& sequence, platform::RunLock& runLock, platform::WritePhaseGuard& guard)
      : console_(console),
        sleeper_(sleeper),
        transport_(transport),
        sequence_(sequence),
        runLock_(runLock),
        guard_(guard) {}

  // The process exit code.
  int run();

 private:
  void writeBanner();
  bool takeRunLock();
  bool readVersion(std::uint8_t version[i2c::I2cTransport::kVersionLength]);
  static bool passesVersionGate(const std::uint8_t version[i2c::I2cTransport::kVersionLength]);
  // The target line, the question and the echo of the answer; the key that answered, or
  // Console::kInputEnded.
  int askToContinue();
  int confirmAndContinue();
  // A controller whose application does not answer may still have its loader running.
  int recoverFromLoader();
  int startUpdate(ControllerMode mode);
  // An ending with exit code -1 and no closing prompt, where the window allows that.
  int endEarly();

  platform::Console& console_;
  platform::Sleeper& sleeper_;
  i2c::I2cTransport& transport_;
  UpdateSequence& sequence_;
  platform::RunLock& runLock_;
  platform::WritePhaseGuard& guard_;
};

}  // namespace argb::app
