// Loads "nvapi64.dll" through the ordinary library search and prints where it came from. The
// planting tests run it to show that each planted copy is reachable, so that the updater not
// loading them proves something.
//
// `search-probe restricted` first sets the search with the program's own adapter as on a Windows 7
// without KB2533623, which lacks SetDefaultDllDirectories: only taking the current directory out
// of the search then keeps a copy planted there from being loaded.

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/LibrarySearch.h"

namespace {

// kernel32's GetProcAddress for every caller in this program, whose one lookup is the adapter's:
// it answers as a Windows without the function does.
FARPROC WINAPI withoutDefaultDirectories(HMODULE, LPCSTR) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

}  // namespace

// Takes the place of the import-table entry that calls through dllimport read.
extern "C" {
decltype(&GetProcAddress) __imp_GetProcAddress = withoutDefaultDirectories;
}

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "restricted") == 0) {
    const argb::platform::LibrarySearchSetting setting =
        argb::platform::restrictProcessLibrarySearch();
    std::printf("system directory only: %s, current directory removed: %s\n",
                setting.systemDirectoryOnly ? "yes" : "no",
                setting.currentDirectoryRemoved ? "yes" : "no");
  }
  HMODULE module = LoadLibraryW(L"nvapi64.dll");
  if (module == nullptr) {
    std::printf("not loaded: error %lu\n", GetLastError());
    return 1;
  }
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  std::printf("%ls\n", path);
  return 0;
}
