#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace argb::testing {

// UTF-16 to plain text, for the loader's names and paths (they are ASCII here).
std::string narrow(const char16_t* text);

// A recording stand-in for the operating system: nothing is loaded, nothing sleeps, keys come from
// a script. Every call that matters is appended to `events` in a readable form. `timeline` holds
// what the user and the controller would see, in the order it happens: console writes ("F:" and
// "S:" texts, "E" line end, "K" key read, "D" typed-ahead keys dropped), pauses ("sleep N"), the
// lock and the write-phase guard; bus fakes append their transactions to it too.
class FakePlatform : public platform::Platform,
                     public platform::OsServices,
                     public platform::Console,
                     public platform::Sleeper,
                     public platform::RunLock,
                     public platform::WritePhaseGuard {
 public:
  struct LoadCall {
    std::string name;
    std::uint32_t flags;
  };
  // How a load of a given name or path answers: a handle, or null with an error.
  struct LoadAnswer {
    platform::ModuleHandle handle = nullptr;
    std::uint32_t error = platform::kErrorModNotFound;
  };

  // --- configuration -----------------------------------------------------------------------
  std::u16string systemDirectory = u"C:\\Windows\\system32";
  bool systemDirectoryFails = false;
  std::string moduleFileName = "C:\\Tools\\argb-fw-updater.exe";
  bool buildAtLeast9200 = true;
  // Answers keyed by the exact name or path passed to loadLibraryEx; absent names are not found.
  std::map<std::string, LoadAnswer> loadAnswers;
  // Exports keyed by module handle and export name.
  std::map<std::pair<platform::ModuleHandle, std::string>, platform::ProcAddress> exports;
  // Number of localAlloc calls that succeed before the next one fails (negative: never fails).
  int localAllocFailsAfter = -1;
  // The last error that localFree leaves behind, as a real free may; none: untouched.
  std::optional<std::uint32_t> localFreeError;
  // The same for freeLibrary.
  std::optional<std::uint32_t> freeLibraryError;
  std::deque<int> keys;
  bool interactiveOutput = false;
  bool consoleClosesWithProgram = false;
  platform::RunLock::Result lockResult{platform::RunLock::Outcome::kTaken, {}};

  // --- records -----------------------------------------------------------------------------
  std::vector<LoadCall> loads;
  std::vector<platform::ModuleHandle> frees;
  std::vector<std::string> events;
  std::vector<std::uint32_t> sleeps;
  std::string output;               // everything written to the console, in order
  std::vector<std::string> writes;  // "F:" formatted, "S:" stream, "E" line end with flush
  std::vector<std::string> timeline;
  int versionTests = 0;
  int keyReads = 0;
  int liveAllocations = 0;
  std::uint32_t lastError = 0;
  int criticalSectionDepth = 0;
  int criticalSectionInits = 0;
  int criticalSectionEnters = 0;
  // Initialising a live section again, entering or leaving one never initialised.
  int criticalSectionMisuses = 0;

  // --- Platform ----------------------------------------------------------------------------
  platform::OsServices& os() override { return *this; }
  platform::Console& console() override { return *this; }
  platform::Sleeper& sleeper() override { return *this; }
  platform::RunLock& runLock() override { return *this; }
  platform::WritePhaseGuard& writePhaseGuard() override { return *this; }

  // --- OsServices --------------------------------------------------------------------------
  platform::ModuleHandle loadLibraryEx(const char16_t* fileName, std::uint32_t flags) override;
  bool freeLibrary(platform::ModuleHandle module) override;
  platform::ProcAddress getProcAddress(platform::ModuleHandle module,
                                       const char* exportName) override;
  std::uint32_t getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) override;
  std::uint32_t getModuleFileName(char* buffer, std::uint32_t bufferSize) override;
  bool isBuildNumberAtLeast(std::uint32_t buildNumber) override;
  void* localAlloc(std::size_t bytes) override;
  void localFree(void* block) override;
  std::uint32_t getLastError() override { return lastError; }
  void setLastError(std::uint32_t error) override { lastError = error; }
  void initializeCriticalSection(platform::CriticalSection& section) override;
  void enterCriticalSection(platform::CriticalSection& section) override;
  void leaveCriticalSection(platform::CriticalSection& section) override;

  // --- Console -----------------------------------------------------------------------------
  void writeFormatted(std::string_view text) override;
  void writeStream(std::string_view text) override;
  void writeStreamLineEnd() override;
  int readKey() override;
  void discardTypedAhead() override;
  bool outputIsInteractive() override { return interactiveOutput; }
  bool closesWithProgram() override { return consoleClosesWithProgram; }

  // --- RunLock -----------------------------------------------------------------------------
  platform::RunLock::Result take() override;

  // --- WritePhaseGuard ---------------------------------------------------------------------
  void enterWritePhase() override { timeline.push_back("guard enter"); }
  void updateEnded() override { timeline.push_back("guard end"); }

  // --- Sleeper -----------------------------------------------------------------------------
  void sleep(std::uint32_t milliseconds) override;
};

}  // namespace argb::testing
