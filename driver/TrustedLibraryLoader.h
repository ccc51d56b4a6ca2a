#pragma once

#include <array>
#include <cstdint>

#include "platform/OsServices.h"
#include "platform/SystemLibraryLoader.h"

namespace argb::driver {

// Loads a library from the system directory only, so a planted copy next to the program, in the
// current directory or on the search path is never picked up. Holds the process-wide loading
// state: the OS generation, the preload result and the preloaded system libraries.
class TrustedLibraryLoader final : public platform::SystemLibraryLoader {
 public:
  static constexpr std::uint32_t kSearchPathFlags = 0x1708;
  static constexpr std::uint32_t kBuildWithSearchFlags = 9200;
  static constexpr std::uint32_t kLegacyBuild = 7600;
  static constexpr std::size_t kPreloadCount = 6;
  static constexpr std::array<const char16_t*, kPreloadCount> kPreloadNames = {
      u"msasn1.dll", u"cryptnet.dll", u"drvstore.dll",
      u"devobj.dll", u"wldp.dll",     u"cryptbase.dll"};

  explicit TrustedLibraryLoader(platform::OsServices& os) : os_(os) {}

  // A bare file name and load flags: the module, or null with the reason in the last error.
  platform::ModuleHandle LoadTrustedLibrary(const char16_t* name, std::uint32_t flags);
  platform::ModuleHandle LoadFromSystemDirectory(const char16_t* name, std::uint32_t flags);
  // 1 = ready, 0 = refused.
  int PreloadSystemLibraries(int legacy);
  // With the flags and the older-Windows path of the preloaded libraries.
  platform::ModuleHandle loadSystemLibrary(const char16_t* name) override {
    return LoadTrustedLibrary(name, 0);
  }
  // "<system directory>\<name>" in a zero-filled LocalAlloc block the caller releases, or null.
  char16_t* BuildSystemPath(const char16_t* name);

  std::uint32_t osGeneration() const { return osGeneration_; }
  int preloadResult() const { return preloadResult_; }
  const std::array<platform::ModuleHandle, kPreloadCount>& preloadHandles() const {
    return preloadHandles_;
  }

 private:
  bool isProtectedMediaProcess();

  platform::OsServices& os_;
  std::uint32_t osGeneration_ = 0;
  int preloadResult_ = 1;
  std::array<platform::ModuleHandle, kPreloadCount> preloadHandles_{};
};

}  // namespace argb::driver
