// Updates the firmware of the graphics card's ARGB LED controller over the driver's I2C functions.

#include "app/UpdateRun.h"
#include "app/UpdateSequence.h"
#include "app/firmware/FirmwareImage.h"
#include "driver/DriverFront.h"
#include "driver/TrustedLibraryLoader.h"
#include "i2c/I2cTransport.h"
#include "iap/UpdaterContext.h"
#include "platform/LibrarySearch.h"
#include "platform/Platform.h"

int main() {
  using namespace argb;
  // First: a library that the driver or a system library loads by a bare name must never come from
  // the program's folder or the current directory.
  platform::restrictProcessLibrarySearch();
  platform::SystemServices<driver::TrustedLibraryLoader> system;
  const auto& platform = system.platform;
  driver::DriverFront driverFront(platform->os(), system.loader);
  i2c::I2cTransport transport(driverFront, platform->sleeper());
  iap::UpdaterContext updaterContext(transport, platform->sleeper());
  app::UpdateSequence sequence(platform->console(), platform->sleeper(),
                               platform->writePhaseGuard(), updaterContext, app::kFirmwareImage,
                               app::kFirmwareImageLength);
  app::UpdateRun run(platform->console(), platform->sleeper(), transport, sequence,
                     platform->runLock(), platform->writePhaseGuard());
  return run.run();
}
