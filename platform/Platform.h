#pragma once

#include <memory>

#include "platform/Console.h"
#include "platform/OsServices.h"
#include "platform/RunLock.h"
#include "platform/Sleeper.h"
#include "platform/SystemLibraryLoader.h"
#include "platform/WritePhaseGuard.h"

namespace argb::platform {

// The operating system's services for the running program: one object per process, made by the
// backend of the OS the program is built for.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual OsServices& os() = 0;
  virtual Console& console() = 0;
  virtual Sleeper& sleeper() = 0;
  virtual RunLock& runLock() = 0;
  virtual WritePhaseGuard& writePhaseGuard() = 0;
  // The trusted loading for the system libraries that the services load only when they need them
  // (nothing beyond the libraries Windows maps from its own list is imported). Without it they do
  // without those libraries.
  virtual void loadSystemLibrariesWith(SystemLibraryLoader& /*loader*/) {}
};

std::unique_ptr<Platform> createSystemPlatform();

// The running program's services, wired as the updater runs them: `Loader`, the trusted loading
// of system libraries, is made on the services' own OsServices and handed to each service that
// loads a library only when it needs it. The updater and the Wine probe of its timer fallback both
// start here, so that a service left without the loader shows in the probe as it would in the
// updater.
template <typename Loader>
struct SystemServices {
  SystemServices() { platform->loadSystemLibrariesWith(loader); }
  SystemServices(const SystemServices&) = delete;
  SystemServices& operator=(const SystemServices&) = delete;

  const std::unique_ptr<Platform> platform = createSystemPlatform();
  Loader loader{platform->os()};
};

}  // namespace argb::platform
