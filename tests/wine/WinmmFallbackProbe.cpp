// Runs the updater's timer fallback, as on a Windows without high-resolution timers (before
// Windows 10 1803): the updater's own services, wired as the updater wires them, with only the
// timer refused. Pauses 1 ms a few times, ends the services and prints where winmm.dll came from;
// the test reads the timer period's calls around the pauses from Wine's call trace.
//
// Unlike the updater, it leaves the process-wide library search alone: restricted to system32, a
// bare-name load of winmm.dll would come from there too, and the probe could not tell the timer
// services' trusted loading from a careless one.

#include <windows.h>

#include <cstdio>

#include "driver/TrustedLibraryLoader.h"
#include "platform/Platform.h"

namespace {

constexpr int kPauses = 3;

// kernel32's CreateWaitableTimerExW for every caller in this program: it refuses the
// high-resolution flag, the only timer the program asks for, as Windows before 10 1803 does.
HANDLE WINAPI withoutHighResolutionTimer(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return nullptr;
}

}  // namespace

// Takes the place of the import-table entry that calls through dllimport read.
extern "C" {
decltype(&CreateWaitableTimerExW) __imp_CreateWaitableTimerExW = withoutHighResolutionTimer;
}

int main() {
  wchar_t path[MAX_PATH] = L"not loaded";
  {
    const argb::platform::SystemServices<argb::driver::TrustedLibraryLoader> system;
    for (int i = 0; i < kPauses; ++i) system.platform->sleeper().sleep(1);
    if (const HMODULE winmm = GetModuleHandleW(L"winmm.dll"))
      GetModuleFileNameW(winmm, path, MAX_PATH);
  }
  std::printf("%ls\n", path);
  return 0;
}
