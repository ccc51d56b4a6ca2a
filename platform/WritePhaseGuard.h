#pragma once

namespace argb::platform {

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
