#include "tests/support/FakePlatform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace argb::testing {
namespace {
constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// What an initialised section holds, so that the storage itself tells whether it was initialised.
constexpr char kLiveSection[] = "fake critical section";
static_assert(sizeof kLiveSection <= sizeof(platform::CriticalSection::storage));

bool isLive(const platform::CriticalSection& section) {
  return std::memcmp(section.storage, kLiveSection, sizeof kLiveSection) == 0;
}
}  // namespace

std::string narrow(const char16_t* text) {
  std::string result;
  for (; text != nullptr && *text != 0; ++text) result.push_back(static_cast<char>(*text));
  return result;
}

platform::ModuleHandle FakePlatform::loadLibraryEx(const char16_t* fileName, std::uint32_t flags) {
  const std::string name = narrow(fileName);
  loads.push_back({name, flags});
  events.push_back("load " + name);
  const auto answer = loadAnswers.find(name);
  if (answer == loadAnswers.end()) {
    lastError = platform::kErrorModNotFound;
    return nullptr;
  }
  if (answer->second.handle == nullptr) lastError = answer->second.error;
  return answer->second.handle;
}

bool FakePlatform::freeLibrary(platform::ModuleHandle module) {
  frees.push_back(module);
  events.push_back("free");
  if (freeLibraryError) lastError = *freeLibraryError;
  return true;
}

platform::ProcAddress FakePlatform::getProcAddress(platform::ModuleHandle module,
                                                   const char* exportName) {
  events.push_back(std::string("export ") + exportName);
  const auto found = exports.find({module, exportName});
  return found == exports.end() ? nullptr : found->second;
}

std::uint32_t FakePlatform::getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) {
  events.push_back("sysdir");
  if (systemDirectoryFails) return 0;
  const auto length = static_cast<std::uint32_t>(systemDirectory.size());
  if (buffer == nullptr || bufferSize <= length) return length + 1;
  std::copy(systemDirectory.begin(), systemDirectory.end(), buffer);
  buffer[length] = 0;
  return length;
}

std::uint32_t FakePlatform::getModuleFileName(char* buffer, std::uint32_t bufferSize) {
  events.push_back("modulename");
  if (bufferSize == 0) return 0;
  // Like the real call: a path that does not fit is cut, terminated, and answered with the size.
  const bool fits = moduleFileName.size() < bufferSize;
  const auto length = fits ? moduleFileName.size() : bufferSize - 1;
  std::memcpy(buffer, moduleFileName.data(), length);
  buffer[length] = 0;
  if (!fits) lastError = kErrorInsufficientBuffer;
  return fits ? static_cast<std::uint32_t>(length) : bufferSize;
}

bool FakePlatform::isBuildNumberAtLeast(std::uint32_t buildNumber) {
  ++versionTests;
  events.push_back("versiontest " + std::to_string(buildNumber));
  return buildAtLeast9200 ? buildNumber <= 9200 : buildNumber < 9200;
}

void* FakePlatform::localAlloc(std::size_t bytes) {
  if (localAllocFailsAfter == 0) {
    lastError = platform::kErrorNotEnoughMemory;
    return nullptr;
  }
  if (localAllocFailsAfter > 0) --localAllocFailsAfter;
  ++liveAllocations;
  return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

void FakePlatform::localFree(void* block) {
  if (localFreeError) lastError = *localFreeError;
  if (block == nullptr) return;
  --liveAllocations;
  std::free(block);
}

void FakePlatform::initializeCriticalSection(platform::CriticalSection& section) {
  ++criticalSectionInits;
  if (isLive(section)) ++criticalSectionMisuses;
  std::memcpy(section.storage, kLiveSection, sizeof kLiveSection);
  events.push_back("cs init");
}

void FakePlatform::enterCriticalSection(platform::CriticalSection& section) {
  if (!isLive(section)) ++criticalSectionMisuses;
  ++criticalSectionDepth;
  ++criticalSectionEnters;
  events.push_back("cs enter");
}

void FakePlatform::leaveCriticalSection(platform::CriticalSection& section) {
  if (!isLive(section)) ++criticalSectionMisuses;
  --criticalSectionDepth;
  events.push_back("cs leave");
}

void FakePlatform::writeFormatted(std::string_view text) {
  output.append(text);
  writes.push_back("F:" + std::string(text));
  timeline.push_back(writes.back());
}

void FakePlatform::writeStream(std::string_view text) {
  output.append(text);
  writes.push_back("S:" + std::string(text));
  timeline.push_back(writes.back());
}

void FakePlatform::writeStreamLineEnd() {
  output.push_back('\n');
  writes.push_back("E");
  timeline.push_back(writes.back());
}

void FakePlatform::discardTypedAhead() {
  writes.push_back("D");
  timeline.push_back(writes.back());
}

platform::RunLock::Result FakePlatform::take() {
  timeline.push_back("lock");
  return lockResult;
}

int FakePlatform::readKey() {
  ++keyReads;
  writes.push_back("K");
  timeline.push_back(writes.back());
  if (keys.empty()) return -1;
  const int key = keys.front();
  keys.pop_front();
  return key;
}

void FakePlatform::sleep(std::uint32_t milliseconds) {
  sleeps.push_back(milliseconds);
  events.push_back("sleep " + std::to_string(milliseconds));
  timeline.push_back(events.back());
}

}  // namespace argb::testing
