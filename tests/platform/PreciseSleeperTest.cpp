#include "platform/PreciseSleeper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeTimerServices.h"

namespace argb::platform {
namespace {

using Events = std::vector<std::string>;

// The calls of a sleeper that makes `pauses` and is then destroyed, as the end of a run does.
Events run(testing::FakeTimerServices& timers, const std::vector<std::uint32_t>& pauses) {
  {
    PreciseSleeper sleeper(timers);
    for (const std::uint32_t pause : pauses) sleeper.sleep(pause);
  }
  return timers.events;
}

TEST(PreciseSleeperTest, OneHighResolutionTimerServesEveryShortPause) {
  testing::FakeTimerServices timers;
  EXPECT_EQ(run(timers, {1, 1, 15, 1}),
            (Events{"create", "wait 1", "wait 1", "wait 15", "wait 1", "close"}));
  // The timer's due time: 100 ns units, negative for "from now".
  EXPECT_EQ(relativeDueTime(1), -10'000);
  EXPECT_EQ(relativeDueTime(15), -150'000);
}

TEST(PreciseSleeperTest, WithoutHighResolutionTimerTheRunSleepsAtARaisedResolution) {
  testing::FakeTimerServices timers;
  timers.highResolutionOffered = false;
  EXPECT_EQ(run(timers, {1, 1, 1}),
            (Events{"create refused", "begin 1", "sleep 1", "sleep 1", "sleep 1", "end 1"}));
}

TEST(PreciseSleeperTest, LongPausesAndRunsWithoutShortOnesLeaveTheTimerAlone) {
  testing::FakeTimerServices timers;
  EXPECT_EQ(run(timers, {50, 200, 300, 16, 0}),
            (Events{"sleep 50", "sleep 200", "sleep 300", "sleep 16", "sleep 0"}));
  // The same with the fallback in force: long pauses do not wait on the timer either.
  testing::FakeTimerServices fallback;
  fallback.highResolutionOffered = false;
  EXPECT_EQ(run(fallback, {1, 300}),
            (Events{"create refused", "begin 1", "sleep 1", "sleep 300", "end 1"}));
}

TEST(PreciseSleeperTest, FailedWaitIsMadeUpAndTheRunFallsBack) {
  testing::FakeTimerServices timers;
  timers.waitsBeforeFailure = 1;
  EXPECT_EQ(run(timers, {1, 1, 1}), (Events{"create", "wait 1", "wait 1 failed", "close", "begin 1",
                                            "sleep 1", "sleep 1", "end 1"}));
}

TEST(PreciseSleeperTest, RefusedResolutionIsNotGivenBack) {
  testing::FakeTimerServices timers;
  timers.highResolutionOffered = false;
  timers.periodGranted = false;
  EXPECT_EQ(run(timers, {1, 1}),
            (Events{"create refused", "begin 1 refused", "sleep 1", "sleep 1"}));
}

}  // namespace
}  // namespace argb::platform
