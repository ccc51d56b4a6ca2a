#pragma once

#include "driver/DriverFront.h"
#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

// Initialises the display driver through `front`, the updater's driver front (loaded by the
// trusted loading under the search setting of main), and asks for its GPUs. A driver that
// initialised stays loaded, as in an update, so the later checks run beside it. No I2C function
// is resolved or called.
CheckResult checkDriver(driver::DriverFront& front);

// The driver's library from the system directory is loaded in this process.
bool driverLoaded();

}  // namespace argb::fieldcheck
