#pragma once

#include <cstddef>
#include <cstdint>

namespace argb::platform {

// Opaque module handle of a loaded library (HMODULE on Windows).
using ModuleHandle = void*;
// Address of an exported function, as GetProcAddress answers it.
using ProcAddress = void (*)();

// Storage for one operating-system critical section (CRITICAL_SECTION on Windows). Kept opaque so
// nothing above the platform layer sees an OS header. Pointer alignment is all either backend
// needs, and more would pad the objects that hold one.
struct CriticalSection {
  alignas(8) unsigned char storage[64];
};

// Windows error codes that callers test for; the Linux stand-ins report the same numbers.
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorBadArguments = 160;
inline constexpr std::uint32_t kErrorBadExeFormat = 193;

// Flag word bits of loadLibraryEx. A full path loaded with the altered search order has its own
// imports looked for in that path's directory first, not in the program's directory.
inline constexpr std::uint32_t kLoadWithAlteredSearchPath = 0x8;
// Search the system directory only.
inline constexpr std::uint32_t kLoadLibrarySearchSystem32 = 0x800;

// The library-loading, memory, error and synchronisation services of the operating system, with
// the contracts of their Windows counterparts (named in each comment).
class OsServices {
 public:
  virtual ~OsServices() = default;

  // LoadLibraryExW: a zero-terminated UTF-16 name or path and a flag word. Null on failure, with
  // the reason in the last error.
  virtual ModuleHandle loadLibraryEx(const char16_t* fileName, std::uint32_t flags) = 0;
  // FreeLibrary.
  virtual bool freeLibrary(ModuleHandle module) = 0;
  // GetProcAddress.
  virtual ProcAddress getProcAddress(ModuleHandle module, const char* exportName) = 0;
  // GetSystemDirectoryW: with a buffer too small (or none), the size needed including the
  // terminator; otherwise the length written without the terminator; 0 on failure.
  virtual std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) = 0;
  // GetModuleFileNameA for the executable: length written without the terminator, 0 on failure.
  virtual std::uint32_t getModuleFileName(char* buffer, std::uint32_t bufferSize) = 0;
  // VerifyVersionInfoW with VER_BUILDNUMBER / VER_GREATER_EQUAL built by VerSetConditionMask.
  virtual bool isBuildNumberAtLeast(std::uint32_t buildNumber) = 0;

  // LocalAlloc(LMEM_ZEROINIT): a zero-filled block, or null with last error 8.
  virtual void* localAlloc(std::size_t bytes) = 0;
  // LocalFree.
  virtual void localFree(void* block) = 0;

  // GetLastError / SetLastError of the calling thread.
  virtual std::uint32_t getLastError() = 0;
  virtual void setLastError(std::uint32_t error) = 0;

  // InitializeCriticalSection / EnterCriticalSection / LeaveCriticalSection. A critical section
  // is recursive for its owning thread, as on Windows.
  virtual void initializeCriticalSection(CriticalSection& section) = 0;
  virtual void enterCriticalSection(CriticalSection& section) = 0;
  virtual void leaveCriticalSection(CriticalSection& section) = 0;
};

}  // namespace argb::platform
