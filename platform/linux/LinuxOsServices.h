#pragma once

#include <string>

#include "platform/OsServices.h"

namespace argb::platform {

// Linux stand-ins with the contracts of the Windows services. The system directory is a fixed
// absolute directory; the loader opens exact paths only and never searches.
class LinuxOsServices final : public OsServices {
 public:
  // `systemDirectory`: absolute UTF-8 path that plays the Windows system directory.
  explicit LinuxOsServices(std::string systemDirectory);

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

 private:
  // The file a load request names, or empty when the request names nothing that may be opened.
  std::string resolveLoadPath(const char16_t* fileName, std::uint32_t flags) const;

  std::string systemDirectory_;
  std::u16string systemDirectoryUtf16_;  // empty when the directory is not valid UTF-8
};

}  // namespace argb::platform
