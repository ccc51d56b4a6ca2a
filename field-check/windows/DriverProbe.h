#pragma once

#include "driver/TrustedLibraryLoader.h"
#include "field-check/CheckResult.h"
#include "platform/OsServices.h"

namespace argb::fieldcheck {

// Loads the display driver as the updater does (its trusted loading under the search setting of
// main, through its driver front), initialises it and asks for its GPUs, then unloads it. No I2C
// function is resolved or called.
CheckResult checkDriver(platform::OsServices& os, driver::TrustedLibraryLoader& loader);

}  // namespace argb::fieldcheck
