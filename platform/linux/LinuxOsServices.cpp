#include "platform/linux/LinuxOsServices.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/Utf16.h"

namespace argb::platform {
namespace {

// Windows error codes that only this backend reports.
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorProcNotFound = 127;

// The stand-in reports itself as this Windows build.
constexpr std::uint32_t kEmulatedBuildNumber = 9200;

constexpr const char* kExecutableLink = "/proc/self/exe";
constexpr std::size_t kFirstPathBufferSize = 256;

// Like Windows, the last error belongs to the calling thread, not to an object.
thread_local std::uint32_t lastError = 0;

static_assert(sizeof(std::recursive_mutex) <= sizeof(CriticalSection::storage));
static_assert(alignof(std::recursive_mutex) <= alignof(CriticalSection));

std::recursive_mutex& mutexIn(CriticalSection& section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section.storage));
}

std::optional<std::string> executablePath() {
  std::string path(kFirstPathBufferSize, '\0');
  for (;;) {
    const ssize_t length = ::readlink(kExecutableLink, path.data(), path.size());
    if (length < 0) return std::nullopt;
    // A result that fills the buffer may have been cut short: try again with more room.
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

LinuxOsServices::LinuxOsServices(std::string systemDirectory)
    : systemDirectory_(std::move(systemDirectory)),
      systemDirectoryUtf16_(utf8ToUtf16(systemDirectory_).value_or(std::u16string())) {}

std::string LinuxOsServices::resolveLoadPath(const char16_t* fileName, std::uint32_t flags) const {
  if (fileName == nullptr) return {};
  std::optional<std::string> name = utf16ToUtf8(fileName);
  if (!name || name->empty()) return {};
  // Callers build Windows paths ("<system dir>\name"); a backslash separates like a slash.
  std::replace(name->begin(), name->end(), '\\', '/');
  if (name->front() == '/') return *name;
  // Only a bare name restricted to the system directory is resolved; nothing is searched.
  const bool bare = name->find('/') == std::string::npos;
  if (!bare || (flags & kLoadLibrarySearchSystem32) == 0) return {};
  return systemDirectory_ + '/' + *name;
}

ModuleHandle LinuxOsServices::loadLibraryEx(const char16_t* fileName, std::uint32_t flags) {
  const std::string path = resolveLoadPath(fileName, flags);
  struct stat status {};
  if (path.empty() || ::stat(path.c_str(), &status) != 0) {
    lastError = kErrorModNotFound;
    return nullptr;
  }
  ModuleHandle module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) lastError = kErrorBadExeFormat;
  return module;
}

bool LinuxOsServices::freeLibrary(ModuleHandle module) {
  if (module == nullptr || ::dlclose(module) != 0) {
    lastError = kErrorInvalidHandle;
    return false;
  }
  return true;
}

ProcAddress LinuxOsServices::getProcAddress(ModuleHandle module, const char* exportName) {
  // A null module would make dlsym search the whole process; only loaded libraries are asked.
  if (module == nullptr || exportName == nullptr) {
    lastError = module == nullptr ? kErrorInvalidHandle : kErrorProcNotFound;
    return nullptr;
  }
  void* const symbol = ::dlsym(module, exportName);
  if (symbol == nullptr) {
    lastError = kErrorProcNotFound;
    return nullptr;
  }
  return std::bit_cast<ProcAddress>(symbol);
}

std::uint32_t LinuxOsServices::getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) {
  if (systemDirectoryUtf16_.empty()) return 0;
  const auto length = static_cast<std::uint32_t>(systemDirectoryUtf16_.size());
  if (buffer == nullptr || bufferSize <= length) return length + 1;
  std::copy(systemDirectoryUtf16_.begin(), systemDirectoryUtf16_.end(), buffer);
  buffer[length] = u'\0';
  return length;
}

std::uint32_t LinuxOsServices::getModuleFileName(char* buffer, std::uint32_t bufferSize) {
  const std::optional<std::string> path = executablePath();
  if (!path) {
    lastError = kErrorModNotFound;
    return 0;
  }
  if (buffer == nullptr || bufferSize == 0) {
    lastError = kErrorInsufficientBuffer;
    return 0;
  }
  if (path->size() < bufferSize) {
    std::memcpy(buffer, path->c_str(), path->size() + 1);
    return static_cast<std::uint32_t>(path->size());
  }
  // Too small: the name is cut to the buffer, terminator included, and the size is returned.
  std::memcpy(buffer, path->data(), bufferSize - 1);
  buffer[bufferSize - 1] = '\0';
  lastError = kErrorInsufficientBuffer;
  return bufferSize;
}

bool LinuxOsServices::isBuildNumberAtLeast(std::uint32_t buildNumber) {
  return buildNumber <= kEmulatedBuildNumber;
}

void* LinuxOsServices::localAlloc(std::size_t bytes) {
  // A zero-byte request still yields a distinct block, as LocalAlloc does.
  void* const block = std::calloc(1, std::max<std::size_t>(bytes, 1));
  if (block == nullptr) lastError = kErrorNotEnoughMemory;
  return block;
}

void LinuxOsServices::localFree(void* block) {
  std::free(block);
}

std::uint32_t LinuxOsServices::getLastError() {
  return lastError;
}

void LinuxOsServices::setLastError(std::uint32_t error) {
  lastError = error;
}

// The mutex is never destroyed: like a critical section that is never deleted, it lives as long
// as the storage it was placed in.
void LinuxOsServices::initializeCriticalSection(CriticalSection& section) {
  new (section.storage) std::recursive_mutex();
}

void LinuxOsServices::enterCriticalSection(CriticalSection& section) {
  mutexIn(section).lock();
}

void LinuxOsServices::leaveCriticalSection(CriticalSection& section) {
  mutexIn(section).unlock();
}

}  // namespace argb::platform
