#include "field-check/PauseRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>

namespace argb::fieldcheck {
namespace {

constexpr double kPercentile = 0.99;

std::string_view mechanismName(platform::PreciseSleeper::Method mechanism) {
  using Method = platform::PreciseSleeper::Method;
  switch (mechanism) {
    case Method::kHighResolutionTimer:
      return "high-resolution timer";
    case Method::kRaisedPeriod:
      return "timer-period fallback";
    case Method::kUndecided:
      break;
  }
  return "no short pause made";
}

}  // namespace

PauseStats pauseStats(std::vector<double> durationsMs) {
  if (durationsMs.empty()) return {};
  std::sort(durationsMs.begin(), durationsMs.end());
  const double total = std::accumulate(durationsMs.begin(), durationsMs.end(), 0.0);
  const auto rank =
      static_cast<std::size_t>(std::ceil(kPercentile * static_cast<double>(durationsMs.size())));
  return {total / static_cast<double>(durationsMs.size()),
          durationsMs[std::max<std::size_t>(rank, 1) - 1]};
}

CheckResult judgePauses(PausePhase phase, const PauseMeasurement& measured) {
  const PauseStats stats = pauseStats(measured.durationsMs);
  char value[240];
  std::snprintf(value, sizeof value, "%zu pauses of %u ms: mean %.3f ms, p99 %.3f ms, %s, %s, %s",
                measured.durationsMs.size(), static_cast<unsigned>(kPauseMs), stats.meanMs,
                stats.p99Ms, std::string(mechanismName(measured.mechanism)).c_str(),
                measured.servingWindows ? "waits serving the window's messages" : "plain waits",
                measured.driverLoaded ? "display driver loaded" : "no display driver loaded");
  CheckResult result{phase == PausePhase::kBeforeWritePhase ? "1 ms pause before the write phase"
                                                            : "1 ms pause in the write phase",
                     Verdict::kPass, value, "the mean is at most 2 ms"};
  if (measured.durationsMs.empty()) {
    result.verdict = Verdict::kFail;
    result.why = "no pause was measured";
  } else if (stats.meanMs > kLongestMeanPauseMs) {
    result.verdict = Verdict::kFail;
    result.why = "the mean is above 2 ms: every unacknowledged poll of an update waits that long";
  }
  return result;
}

}  // namespace argb::fieldcheck
