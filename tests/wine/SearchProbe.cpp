// Loads "nvapi64.dll" through the ordinary library search and prints where it came from. The
// planting tests run it to show that each planted copy is reachable, so that the updater not
// loading them proves something.

#include <windows.h>

#include <cstdio>

int main() {
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
