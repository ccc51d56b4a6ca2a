#pragma once

#include <cstddef>
#include <vector>

#include "field-check/CheckResult.h"
#include "platform/PreciseSleeper.h"

namespace argb::fieldcheck {

// As many pauses as an update makes in a few frames that wait long for their acknowledgement.
constexpr std::size_t kPauseCount = 1000;
constexpr std::uint32_t kPauseMs = 1;
// Beyond this mean an update that polls often runs noticeably longer than planned; a plain Sleep
// on the default 15.6 ms tick is far beyond it.
constexpr double kLongestMeanPauseMs = 2.0;

struct PauseStats {
  double meanMs = 0;
  // The nearest-rank 99th percentile.
  double p99Ms = 0;
};

PauseStats pauseStats(std::vector<double> durationsMs);

// When the pauses are made: before the write phase the thread waits plainly; in it, the updater's
// waits also serve the session-end window's messages (MsgWaitForMultipleObjectsEx), and Windows 11
// may lower the timer resolution of a process whose only window it considers invisible.
enum class PausePhase { kBeforeWritePhase, kInWritePhase };

struct PauseMeasurement {
  std::vector<double> durationsMs;
  platform::PreciseSleeper::Method mechanism = platform::PreciseSleeper::Method::kUndecided;
  // The session-end window was open, so the waits served the thread's messages.
  bool servingWindows = false;
  // The display driver was loaded, as it is through an update where one is installed.
  bool driverLoaded = false;
};

CheckResult judgePauses(PausePhase phase, const PauseMeasurement& measured);

}  // namespace argb::fieldcheck
