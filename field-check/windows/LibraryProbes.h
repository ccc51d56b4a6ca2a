#pragma once

#include <string>

#include "field-check/CheckResult.h"
#include "platform/LibrarySearch.h"

namespace argb::fieldcheck {

// Loads the marker shipped beside the program by its bare name, under the search setting main made.
CheckResult checkLibrarySearch(const platform::LibrarySearchSetting& setting,
                               const std::wstring& programFolder);
// The updater's imports (read from the built updater) against the registry's KnownDLLs list.
CheckResult checkKnownDlls();

}  // namespace argb::fieldcheck
