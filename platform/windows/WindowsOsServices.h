#pragma once

#include "platform/OsServices.h"

namespace argb::platform {

// The Windows services themselves, called with the caller's arguments.
class WindowsOsServices final : public OsServices {
 public:
  ModuleHandle loadLibraryEx(const char16_t* fileName, std::uint32_t flags) override;
  bool freeLibrary(ModuleHandle module) override;
  ProcAddress getProcAddress(ModuleHandle module, const char* exportName) override;
  std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) override;
  std::uint32_t getModuleFileName(char* buffer, std::uint32_t bufferSize) override;
  bool isBuildNumberAtLeast(std::uint32_t buildNumber) override;

  void* localAlloc(std::size_t bytes) override;
  void localFree(void* block) override;

  std::uint32_t getLastError() override;
  void setLastError(std::uint32_t error) override;

  void initializeCriticalSection(CriticalSection& section) override;
  void enterCriticalSection(CriticalSection& section) override;
  void leaveCriticalSection(CriticalSection& section) override;
};

}  // namespace argb::platform
