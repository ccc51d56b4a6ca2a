#pragma once

#include "platform/WritePhaseGuard.h"

namespace argb::platform {

// From the confirming answer to the end of the process the terminal can no longer stop the
// update: its interrupt, quit and suspend keys, its hang-up and a broken output are ignored, so a
// write to a terminal that has gone away fails quietly. Linux has no sleep request to hold.
class LinuxWritePhaseGuard final : public WritePhaseGuard {
 public:
  void enterWritePhase() override;
  void updateEnded() override {}
};

}  // namespace argb::platform
