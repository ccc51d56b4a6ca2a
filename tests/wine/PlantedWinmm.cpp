// A winmm.dll planted beside the program, as one left in a Downloads folder. Loaded into a process,
// it leaves a file named winmm-loaded.txt beside itself; it offers the two timer functions the
// updater uses, so that a program importing them would run with it.

// Lean: the full header declares the two functions as imports.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" {

__declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT) {
  return 0;
}

__declspec(dllexport) UINT WINAPI timeEndPeriod(UINT) {
  return 0;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\') --name;
  ::lstrcpynW(name, L"winmm-loaded.txt", static_cast<int>(MAX_PATH - (name - path)));
  const HANDLE marker = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
  return TRUE;
}
}
