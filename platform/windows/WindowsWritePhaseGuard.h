#pragma once

#include <cstdint>

#include "platform/WritePhaseGuard.h"

namespace argb::platform {

// From the confirming answer on, Ctrl+C and Ctrl+Break are swallowed and the system is kept from
// sleeping until the update has ended. In a console window of Windows' own, QuickEdit is off and
// the window's Close item greyed out until then. Closing the window some other way, logging off or
// shutting down cannot be blocked: the system ends the process a few seconds after the close event
// whatever a handler answers.
class WindowsWritePhaseGuard final : public WritePhaseGuard {
 public:
  void enterWritePhase() override;
  void updateEnded() override;

 private:
  void holdConsoleWindow();
  void releaseConsoleWindow();

  bool quickEditChanged_ = false;
  std::uint32_t savedInputMode_ = 0;
  bool closeGreyed_ = false;
};

}  // namespace argb::platform
