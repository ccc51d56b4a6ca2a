#pragma once

#include "platform/OsServices.h"

namespace argb::platform {

// Loads a library of the operating system from the system directory only. The program runs with
// administrator rights, so a library it loads by name from anywhere else (beside the program, a
// Downloads folder) would run with them too.
class SystemLibraryLoader {
 public:
  virtual ~SystemLibraryLoader() = default;
  // A bare file name: the module, or null.
  virtual ModuleHandle loadSystemLibrary(const char16_t* name) = 0;
};

}  // namespace argb::platform
