#pragma once

#include <cstdint>

#include "platform/OsServices.h"

namespace argb::platform {

// The process's library search as the program left it: whether a library loaded by a bare name
// (by the program, the driver or a library of the system) is looked for in the system directory
// only, and whether the current directory is out of the search.
struct LibrarySearchSetting {
  bool systemDirectoryOnly = false;
  bool currentDirectoryRemoved = false;
};

// Takes the program's folder and the current directory out of the process-wide library search.
// `setDefaultDirectories` is kernel32's SetDefaultDllDirectories, or null where the system lacks
// it (Windows 7 without its update KB2533623): the program's folder then stays in the search.
// `removeCurrentDirectory` is SetDllDirectoryW with an empty text; it is called in every case. A
// call that fails changes nothing else.
template <typename SetDefaultDirectories, typename RemoveCurrentDirectory>
LibrarySearchSetting restrictLibrarySearch(SetDefaultDirectories* setDefaultDirectories,
                                           RemoveCurrentDirectory removeCurrentDirectory) {
  LibrarySearchSetting setting;
  setting.systemDirectoryOnly =
      setDefaultDirectories != nullptr && setDefaultDirectories(kLoadLibrarySearchSystem32) != 0;
  setting.currentDirectoryRemoved = removeCurrentDirectory() != 0;
  return setting;
}

// Sets the search for the running process, before anything may load a library.
LibrarySearchSetting restrictProcessLibrarySearch();

}  // namespace argb::platform
