#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "field-check/CheckResult.h"
#include "platform/LibrarySearch.h"

namespace argb::fieldcheck {

// The harmless library shipped beside the check; no system has one of this name.
constexpr char kMarkerLibraryName[] = "argb-field-check-marker.dll";

struct LibrarySearchFacts {
  bool markerBesideProgram = false;
  platform::LibrarySearchSetting setting;
  // Where the bare-name load found the marker, or nullopt when it was not loaded.
  std::optional<std::string> loadedFrom;
};
CheckResult judgeLibrarySearch(const LibrarySearchFacts& facts);

// Every library the updater imports must be mapped from the KnownDLLs list; `knownDlls` is
// nullopt when the list cannot be read. Names compare without regard to case.
CheckResult judgeKnownDlls(const std::vector<std::string>& updaterImports,
                           const std::optional<std::vector<std::string>>& knownDlls);

// TokenElevation, or nullopt when the token cannot be asked.
CheckResult judgeElevation(std::optional<bool> elevated);

struct MitigationFacts {
  // GetProcessMitigationPolicy is there (Windows 8 and later).
  bool available = false;
  bool dep = false;
  bool bottomUpRandomization = false;
  bool highEntropy = false;
};
CheckResult judgeMitigations(const MitigationFacts& facts);

struct WindowsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};
// The updater supports Windows 7 and later.
CheckResult judgeWindowsVersion(const WindowsVersion& version);

}  // namespace argb::fieldcheck
