#pragma once

#include <string>

#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

CheckResult checkWindowsVersion();
CheckResult checkElevation();
// The mitigations as Windows applies them to this process, not as the file's header asks.
CheckResult checkMitigations();
// Takes the updater's lock and starts this program again as a child that tries it too.
CheckResult checkRunLock(const std::wstring& programPath);
// The child's whole run: its exit code says what take() gave.
int runLockProbe();

}  // namespace argb::fieldcheck
