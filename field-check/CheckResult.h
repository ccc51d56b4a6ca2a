#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace argb::fieldcheck {

enum class Verdict { kPass, kFail, kNotApplicable };

// One check's outcome as the report shows it: what was measured and why that is the verdict.
// Texts are UTF-8; the console output converts them to the console's code page.
struct CheckResult {
  std::string name;
  Verdict verdict = Verdict::kFail;
  std::string value;
  std::string why;
};

using Report = std::vector<CheckResult>;

std::string_view verdictText(Verdict verdict);

// "PASS <name>: <value>; <why>", without a line end.
std::string reportLine(const CheckResult& result);
// "N passed, M failed"; a check that does not apply counts as neither.
std::string summaryLine(const Report& report);
// The same as the printed lines, for sending back: every check with its fields, and the counts.
std::string reportJson(const Report& report);
// Non-zero when any check failed.
int exitCode(const Report& report);

}  // namespace argb::fieldcheck
