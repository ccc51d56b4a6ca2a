#pragma once

#include "platform/OsServices.h"

namespace argb::driver {

// The one lock of the process: it serialises the driver's initialisation. Its critical section
// is never deleted, so a late caller during process exit still finds it valid.
class CSingletonCriticalSection {
 public:
  explicit CSingletonCriticalSection(platform::OsServices& os) {
    os.initializeCriticalSection(section_);
  }
  virtual ~CSingletonCriticalSection() = default;
  CSingletonCriticalSection(const CSingletonCriticalSection&) = delete;
  CSingletonCriticalSection& operator=(const CSingletonCriticalSection&) = delete;

  void enter(platform::OsServices& os) { os.enterCriticalSection(section_); }
  void leave(platform::OsServices& os) { os.leaveCriticalSection(section_); }

 private:
  platform::CriticalSection section_{};
};

}  // namespace argb::driver
