#pragma once

#include "driver/NvApi.h"
#include "tests/support/FakePlatform.h"

namespace argb::testing {

// The driver library as the platform fake loads it: "nvapi64.dll" with its query entry, whose
// functions hand every call to `driver`, so a test answers them with a plain object. Function
// addresses carry no object, so one driver serves the process at a time: the last one installed.
// With `offerHooks` the query entry offers the call hooks too, which do nothing.
void installDriverLibrary(FakePlatform& platform, driver::NvApi& driver, bool offerHooks);

}  // namespace argb::testing
