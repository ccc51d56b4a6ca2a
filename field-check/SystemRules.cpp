#include "field-check/SystemRules.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace argb::fieldcheck {
namespace {

constexpr WindowsVersion kOldestSupported{6, 1, 7600};

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string yesNo(bool value) {
  return value ? "yes" : "no";
}

CheckResult result(std::string name, bool passed, std::string value, std::string why) {
  return {std::move(name), passed ? Verdict::kPass : Verdict::kFail, std::move(value),
          std::move(why)};
}

}  // namespace

CheckResult judgeLibrarySearch(const LibrarySearchFacts& facts) {
  const std::string name = "DLL search";
  if (!facts.markerBesideProgram)
    return result(name, false, std::string(kMarkerLibraryName) + " missing",
                  "unzip every file of the check into one folder");
  const std::string setting =
      "system directory only: " + yesNo(facts.setting.systemDirectoryOnly) +
      ", current directory out: " + yesNo(facts.setting.currentDirectoryRemoved);
  if (facts.loadedFrom)
    return result(name, false, setting + ", marker loaded from " + *facts.loadedFrom,
                  "a library planted beside the program would run elevated");
  return result(name, true, setting + ", marker not loaded",
                "the program's folder is out of the library search");
}

CheckResult judgeKnownDlls(const std::vector<std::string>& updaterImports,
                           const std::optional<std::vector<std::string>>& knownDlls) {
  const std::string name = "KnownDLLs";
  if (!knownDlls) return result(name, false, "the KnownDLLs key cannot be read", "nothing known");
  std::string missing;
  for (const std::string& import : updaterImports) {
    const bool listed = std::any_of(knownDlls->begin(), knownDlls->end(), [&](const auto& known) {
      return lower(known) == lower(import);
    });
    if (!listed) missing += (missing.empty() ? "" : ", ") + import;
  }
  std::string imports;
  for (const std::string& import : updaterImports)
    imports += (imports.empty() ? "" : ", ") + import;
  if (!missing.empty())
    return result(name, false, "not listed: " + missing,
                  "Windows would look for these beside the updater first");
  return result(name, true, "updater imports " + imports,
                "every one is mapped from the KnownDLLs list");
}

CheckResult judgeElevation(std::optional<bool> elevated) {
  if (!elevated) return result("elevation", false, "unknown", "the process token cannot be asked");
  return result("elevation", *elevated, *elevated ? "elevated" : "not elevated",
                *elevated ? "the manifest's administrator request took effect"
                          : "the updater needs administrator rights");
}

CheckResult judgeMitigations(const MitigationFacts& facts) {
  const std::string name = "mitigations";
  if (!facts.available)
    return {name, Verdict::kNotApplicable, "GetProcessMitigationPolicy missing",
            "Windows 8 and later report them"};
  const std::string value = "DEP " + yesNo(facts.dep) + ", bottom-up ASLR " +
                            yesNo(facts.bottomUpRandomization) + ", high-entropy ASLR " +
                            yesNo(facts.highEntropy);
  const bool applied = facts.dep && facts.highEntropy;
  return result(name, applied, value,
                applied ? "Windows applies DEP and high-entropy ASLR to the program"
                        : "DEP or high-entropy ASLR is not applied to the program");
}

CheckResult judgeWindowsVersion(const WindowsVersion& version) {
  const std::string value = std::to_string(version.major) + "." + std::to_string(version.minor) +
                            "." + std::to_string(version.build);
  const bool supported =
      std::tie(version.major, version.minor, version.build) >=
      std::tie(kOldestSupported.major, kOldestSupported.minor, kOldestSupported.build);
  return result("Windows version", supported, value,
                supported ? "Windows 7 or later, as the updater needs"
                          : "older than Windows 7, which the updater needs");
}

}  // namespace argb::fieldcheck
