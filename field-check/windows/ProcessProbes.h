#pragma once

#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

CheckResult checkWindowsVersion();
CheckResult checkElevation();
// The mitigations as Windows applies them to this process, not as the file's header asks.
CheckResult checkMitigations();
// Takes the updater's lock, and tries it again from a second thread.
CheckResult checkRunLock();

}  // namespace argb::fieldcheck
