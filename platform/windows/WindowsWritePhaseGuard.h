#pragma once

#include "platform/WritePhaseGuard.h"

namespace argb::platform {

// From the confirming answer on, Ctrl+C and Ctrl+Break are swallowed and the system is kept from
// sleeping until the update has ended. Closing the console window cannot be blocked on Windows:
// the system ends the process a few seconds after the close event whatever a handler answers.
class WindowsWritePhaseGuard final : public WritePhaseGuard {
 public:
  void enterWritePhase() override;
  void updateEnded() override;
};

}  // namespace argb::platform
