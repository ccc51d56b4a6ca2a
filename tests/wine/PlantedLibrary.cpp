// A library planted where a careless search finds it, as one left in a Downloads folder: loaded
// into a process, it leaves a file beside itself named after it (winmm.dll: winmm-loaded.txt).

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32] = {};
  wchar_t* extension = path + GetModuleFileNameW(self, path, MAX_PATH);
  while (extension > path && *extension != L'.' && extension[-1] != L'\\') --extension;
  lstrcpyW(extension, L"-loaded.txt");
  CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return TRUE;
}
