#pragma once

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {

// A function of `module`, looked up rather than imported, so that a Windows without it still runs
// the program: null where the module or the function is missing. `Function` is the function's
// type, e.g. BOOL WINAPI(DWORD).
template <typename Function>
Function* exportedFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  // Through a plain function pointer: FARPROC to any other function type is what GetProcAddress's
  // answer stands for.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// The same of a system library that the process has loaded already (kernel32, user32, ntdll).
template <typename Function>
Function* loadedSystemFunction(const wchar_t* library, const char* name) {
  return exportedFunction<Function>(::GetModuleHandleW(library), name);
}

}  // namespace argb::platform
