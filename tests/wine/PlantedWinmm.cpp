// A winmm.dll planted beside the program, as one left in a Downloads folder: loaded into a process,
// it leaves a file named winmm-loaded.txt beside itself.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 32] = {};
  wchar_t* name = path + GetModuleFileNameW(self, path, MAX_PATH);
  while (name > path && name[-1] != L'\\') --name;
  lstrcpyW(name, L"winmm-loaded.txt");
  CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return TRUE;
}
