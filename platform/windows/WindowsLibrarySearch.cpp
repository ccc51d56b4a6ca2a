#include "platform/LibrarySearch.h"
#include "platform/windows/SystemFunction.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

static_assert(kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);

LibrarySearchSetting restrictProcessLibrarySearch() {
  // Looked up, not imported: its presence, not the version number, tells whether the system has it.
  return restrictLibrarySearch(
      loadedSystemFunction<BOOL WINAPI(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories"),
      [] { return ::SetDllDirectoryW(L""); });
}

}  // namespace argb::platform
