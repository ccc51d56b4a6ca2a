#include "field-check/DriverRules.h"

#include <algorithm>
#include <cctype>

namespace argb::fieldcheck {
namespace {

std::string lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered;
}

std::string listText(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

CheckResult judgeDriver(const DriverFacts& facts) {
  const std::string name = "driver under the updater's DLL search";
  if (!facts.inSystemDirectory)
    return {name, Verdict::kNotApplicable, "no nvapi64.dll in the system directory",
            "no display driver of the card's maker is installed"};
  std::string value = "initialise status " + std::to_string(facts.initStatus);
  if (facts.initStatus != 0) {
    value += ", Windows error " + std::to_string(facts.initError);
    if (!facts.initErrorText.empty()) value += " (" + facts.initErrorText + ")";
  }
  if (facts.enumStatus)
    value += ", GPU enumeration status " + std::to_string(*facts.enumStatus) + ", " +
             std::to_string(facts.gpuCount) + " GPU(s)";
  value += ", loaded from outside the system directory: " + listText(facts.loadedOutside);
  if (facts.initStatus != 0)
    return {name, Verdict::kFail, value,
            "every update on this PC would stop at \"NvAPI initialization failed.\""};
  return {name, Verdict::kPass, value, "the driver initialises under the restricted search"};
}

std::vector<std::string> modulesAddedOutside(const std::vector<std::string>& before,
                                             const std::vector<std::string>& after,
                                             std::string_view systemDirectory) {
  std::string folder = lower(systemDirectory);
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::vector<std::string> added;
  for (const std::string& path : after) {
    const std::string lowered = lower(path);
    const bool known = std::any_of(before.begin(), before.end(),
                                   [&](const std::string& old) { return lower(old) == lowered; });
    const bool inSystem = lowered.compare(0, folder.size(), folder) == 0 &&
                          lowered.find('\\', folder.size()) == std::string::npos;
    if (!known && !inSystem) added.push_back(path);
  }
  return added;
}

}  // namespace argb::fieldcheck
