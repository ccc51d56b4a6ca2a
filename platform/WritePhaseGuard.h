#pragma once

#include <cstdint>

namespace argb::platform {

// The shutdown level (SetProcessShutdownParameters) of a process in its write phase: the top of
// the range Windows documents for applications (0x100-0x3FF; 0x400 and up are the system's own), so
// that the session's end asks it before the programs at the default 0x280 are closed.
inline constexpr std::uint32_t kWritePhaseShutdownLevel = 0x3FF;

// Keeps the user's own terminal from cutting an update off once it has been confirmed: from then
// to the end of the process the interrupt keys and a closed terminal no longer end the program,
// and the system is kept awake while the controller is being rewritten.
class WritePhaseGuard {
 public:
  virtual ~WritePhaseGuard() = default;
  // From the confirming answer on; until the process ends.
  virtual void enterWritePhase() = 0;
  // The update sequence has ended: the system may sleep again.
  virtual void updateEnded() = 0;
};

}  // namespace argb::platform
