#include "driver/TrustedLibraryLoader.h"

#include <algorithm>
#include <cstring>

namespace argb::driver {
namespace {

constexpr std::uint32_t kModuleNameCapacity = 260;
// The protected media pipeline's host loads its own set of libraries; only "\mfpmp." is compared.
constexpr char kProtectedMediaHost[] = "\\mfpmp.exe";
constexpr std::size_t kProtectedMediaHostLength = sizeof(kProtectedMediaHost) - 1;
constexpr std::size_t kProtectedMediaComparedLength = 7;

std::size_t lengthOf(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

bool holdsPathSeparator(const char16_t* name) {
  for (; *name != 0; ++name) {
    if (*name == u'\\' || *name == u'/') return true;
  }
  return false;
}

// Systems without the system-directory flag refuse it, so they get the full system path. The
// altered search order makes that library's own imports come from the system directory first
// instead of from the program's directory.
std::uint32_t legacyPathFlags(std::uint32_t flags) {
  return (flags & ~platform::kLoadLibrarySearchSystem32) | platform::kLoadWithAlteredSearchPath;
}

}  // namespace

platform::ModuleHandle TrustedLibraryLoader::LoadTrustedLibrary(const char16_t* name,
                                                                std::uint32_t flags) {
  os_.setLastError(0);
  if (name == nullptr || holdsPathSeparator(name)) {
    os_.setLastError(platform::kErrorBadArguments);
    return nullptr;
  }
  return LoadFromSystemDirectory(name, flags);
}

platform::ModuleHandle TrustedLibraryLoader::LoadFromSystemDirectory(const char16_t* name,
                                                                     std::uint32_t flags) {
  flags &= ~kSearchPathFlags;
  if (osGeneration_ == 0) {
    osGeneration_ =
        os_.isBuildNumberAtLeast(kBuildWithSearchFlags) ? kBuildWithSearchFlags : kLegacyBuild;
  }
  if (PreloadSystemLibraries(osGeneration_ < kBuildWithSearchFlags ? 1 : 0) == 0) return nullptr;

  if (osGeneration_ >= kBuildWithSearchFlags) {
    return os_.loadLibraryEx(name, flags | platform::kLoadLibrarySearchSystem32);
  }
  // Without the system-directory flag a bare name would go through the ordinary search order,
  // so an unbuildable path loads nothing rather than falling back to the bare name.
  char16_t* path = BuildSystemPath(name);
  if (path == nullptr) return nullptr;
  platform::ModuleHandle module = os_.loadLibraryEx(path, legacyPathFlags(flags));
  // Freeing the path may change the last error, which must still give the load's reason.
  const std::uint32_t loadError = os_.getLastError();
  os_.localFree(path);
  os_.setLastError(loadError);
  return module;
}

bool TrustedLibraryLoader::isProtectedMediaProcess() {
  char modulePath[kModuleNameCapacity] = {};
  const std::uint32_t written = os_.getModuleFileName(modulePath, kModuleNameCapacity);
  if (written == 0) return false;
  const std::size_t length = std::min<std::size_t>(written, kModuleNameCapacity - 1);
  if (length < kProtectedMediaHostLength) return false;
  const char* lastBackslash = nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (modulePath[i] == '\\') lastBackslash = modulePath + i;
  }
  const char* fileName = lastBackslash != nullptr ? lastBackslash : modulePath;
  return std::strncmp(fileName, kProtectedMediaHost, kProtectedMediaComparedLength) == 0;
}

int TrustedLibraryLoader::PreloadSystemLibraries(int legacy) {
  if (isProtectedMediaProcess()) return preloadResult_;
  for (const platform::ModuleHandle handle : preloadHandles_) {
    if (handle != nullptr) return preloadResult_;
  }

  preloadResult_ = 0;
  for (std::size_t i = 0; i < kPreloadCount; ++i) {
    std::uint32_t loadError = 0;
    if (legacy != 0) {
      char16_t* path = BuildSystemPath(kPreloadNames[i]);
      if (path == nullptr) return preloadResult_;
      preloadHandles_[i] = os_.loadLibraryEx(path, legacyPathFlags(0));
      loadError = os_.getLastError();
      os_.localFree(path);
    } else {
      preloadHandles_[i] =
          os_.loadLibraryEx(kPreloadNames[i], platform::kLoadLibrarySearchSystem32);
      loadError = os_.getLastError();
    }
    // A library missing from this system is fine; any other failure is a refusal.
    if (preloadHandles_[i] == nullptr && loadError != platform::kErrorModNotFound) {
      return preloadResult_;
    }
  }
  preloadResult_ = 1;
  return preloadResult_;
}

char16_t* TrustedLibraryLoader::BuildSystemPath(const char16_t* name) {
  if (name == nullptr) return nullptr;
  // Without a system directory there is no trusted path; "\" + name would name the current drive.
  const std::uint32_t directorySize = os_.getSystemDirectory(nullptr, 0);
  if (directorySize == 0) return nullptr;

  const std::size_t nameLength = lengthOf(name);
  const std::size_t capacity = nameLength + directorySize + 1;
  auto* path = static_cast<char16_t*>(os_.localAlloc(capacity * sizeof(char16_t)));
  if (path == nullptr) return nullptr;

  const std::uint32_t directoryLength = os_.getSystemDirectory(path, directorySize);
  if (directoryLength == 0 || directoryLength >= directorySize) {
    os_.localFree(path);
    return nullptr;
  }
  std::size_t end = directoryLength;
  if (path[end - 1] != u'\\') path[end++] = u'\\';
  std::copy(name, name + nameLength, path + end);
  return path;
}

}  // namespace argb::driver
