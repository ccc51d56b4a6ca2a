#include <gtest/gtest.h>

#include <vector>

#include "field-check/CheckResult.h"
#include "field-check/PauseRules.h"

namespace argb::fieldcheck {
namespace {

TEST(FieldCheckReportTest, LinesSummaryJsonAndExitCodeAgree) {
  const Report report = {{"a", Verdict::kPass, "1 ms", "fine"},
                         {"b \"quoted\"", Verdict::kNotApplicable, "C:\\x", "tab\there"},
                         {"c", Verdict::kFail, "\xC3\xA0", "broken"}};
  EXPECT_EQ(reportLine(report[0]), "PASS a: 1 ms; fine");
  EXPECT_EQ(reportLine(report[1]), "N/A  b \"quoted\": C:\\x; tab\there");
  // A check that does not apply counts neither way.
  EXPECT_EQ(summaryLine(report), "1 passed, 1 failed");
  EXPECT_EQ(
      reportJson(report),
      "{\n  \"checks\": [\n"
      "    {\"name\": \"a\", \"verdict\": \"PASS\", \"value\": \"1 ms\", \"why\": \"fine\"},\n"
      "    {\"name\": \"b \\\"quoted\\\"\", \"verdict\": \"N/A\", \"value\": \"C:\\\\x\", "
      "\"why\": \"tab\\u0009here\"},\n"
      "    {\"name\": \"c\", \"verdict\": \"FAIL\", \"value\": \"\xC3\xA0\", \"why\": "
      "\"broken\"}\n  ],\n  \"passed\": 1,\n  \"failed\": 1,\n"
      "  \"summary\": \"1 passed, 1 failed\"\n}\n");
  EXPECT_NE(exitCode(report), 0);
  EXPECT_EQ(exitCode({report[0], report[1]}), 0);
}

TEST(FieldCheckReportTest, PauseStatisticsUseTheNearestRank) {
  struct Case {
    std::vector<double> durations;
    double mean;
    double p99;
  };
  std::vector<double> oneSlowOfHundred(99, 1.0);
  oneSlowOfHundred.push_back(51.0);
  std::vector<double> twoSlowOfHundred(98, 1.0);
  twoSlowOfHundred.insert(twoSlowOfHundred.begin(), {51.0, 51.0});
  for (const Case& c : std::vector<Case>{{{1.5}, 1.5, 1.5},
                                         {oneSlowOfHundred, 1.5, 1.0},
                                         {twoSlowOfHundred, 2.0, 51.0},
                                         {{}, 0.0, 0.0}}) {
    const PauseStats stats = pauseStats(c.durations);
    EXPECT_DOUBLE_EQ(stats.meanMs, c.mean) << c.durations.size();
    EXPECT_DOUBLE_EQ(stats.p99Ms, c.p99) << c.durations.size();
  }
}

}  // namespace
}  // namespace argb::fieldcheck
