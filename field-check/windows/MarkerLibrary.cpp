// A library that does nothing when loaded: the DLL search check only looks at where, if anywhere,
// it was loaded from. Its name is the field check's own, never one Windows uses.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
