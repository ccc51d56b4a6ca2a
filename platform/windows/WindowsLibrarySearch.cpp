#include "platform/LibrarySearch.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

static_assert(kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);

LibrarySearchSetting restrictProcessLibrarySearch() {
  // Looked up, not imported: its presence, not the version number, tells whether the system has it.
  using SetDefaultDirectories = BOOL WINAPI(DWORD);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  auto* const setDefaultDirectories =
      kernel32 == nullptr ? nullptr
                          : reinterpret_cast<SetDefaultDirectories*>(reinterpret_cast<void (*)()>(
                                ::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  return restrictLibrarySearch(setDefaultDirectories, [] { return ::SetDllDirectoryW(L""); });
}

}  // namespace argb::platform
