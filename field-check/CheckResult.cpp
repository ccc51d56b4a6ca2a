#include "field-check/CheckResult.h"

#include <algorithm>
#include <cstdio>

namespace argb::fieldcheck {
namespace {

constexpr int kExitAllPassed = 0;
constexpr int kExitSomeFailed = 1;

std::size_t count(const Report& report, Verdict verdict) {
  return static_cast<std::size_t>(std::count_if(
      report.begin(), report.end(), [verdict](const auto& r) { return r.verdict == verdict; }));
}

// A JSON string; bytes from 0x80 up pass through, as the texts are UTF-8 already.
std::string jsonString(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

std::string_view verdictText(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "PASS";
    case Verdict::kFail:
      return "FAIL";
    case Verdict::kNotApplicable:
      return "N/A";
  }
  return "FAIL";
}

std::string reportLine(const CheckResult& result) {
  std::string line(verdictText(result.verdict));
  line.resize(5, ' ');
  return line + result.name + ": " + result.value + "; " + result.why;
}

std::string summaryLine(const Report& report) {
  return std::to_string(count(report, Verdict::kPass)) + " passed, " +
         std::to_string(count(report, Verdict::kFail)) + " failed";
}

std::string reportJson(const Report& report) {
  std::string json = "{\n  \"checks\": [";
  const char* separator = "\n";
  for (const CheckResult& r : report) {
    json += separator;
    json += "    {\"name\": " + jsonString(r.name) +
            ", \"verdict\": " + jsonString(verdictText(r.verdict)) +
            ", \"value\": " + jsonString(r.value) + ", \"why\": " + jsonString(r.why) + "}";
    separator = ",\n";
  }
  json += "\n  ],\n  \"passed\": " + std::to_string(count(report, Verdict::kPass)) +
          ",\n  \"failed\": " + std::to_string(count(report, Verdict::kFail)) +
          ",\n  \"summary\": " + jsonString(summaryLine(report)) + "\n}\n";
  return json;
}

int exitCode(const Report& report) {
  return count(report, Verdict::kFail) == 0 ? kExitAllPassed : kExitSomeFailed;
}

}  // namespace argb::fieldcheck
