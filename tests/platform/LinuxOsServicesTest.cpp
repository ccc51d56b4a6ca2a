#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/LinuxOsServices.h"
#include "platform/linux/LinuxPlatform.h"
#include "tests/platform/TemporaryDirectory.h"

namespace argb::platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAnswerExport = "argbTestLibraryAnswer";
constexpr int kAnswer = 42;
constexpr std::uint32_t kNoFlags = 0;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kUntouched = 1234;

using AnswerFunction = int (*)();

// Test paths are ASCII, except where a test spells out its UTF-16 name itself.
std::u16string widen(const std::string& text) {
  return {text.begin(), text.end()};
}

// Leaves the current directory where it was, whatever the test does.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const fs::path& directory) : previous_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~CurrentDirectory() { fs::current_path(previous_); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  fs::path previous_;
};

class LinuxLoaderTest : public ::testing::Test {
 protected:
  LinuxLoaderTest() : systemDir_(root_.path() / "system32"), os_(systemDir_.string()) {
    fs::create_directory(systemDir_);
    placeLibrary(systemDir_ / "probe.dll");
    std::ofstream(systemDir_ / "notalib.dll") << "plain text, not a library\n";
  }

  static void placeLibrary(const fs::path& where) { fs::copy_file(ARGB_TEST_LIBRARY, where); }

  // Loads, checks that the answer comes from the test library, and frees again. A load that
  // succeeds leaves the last error as it was.
  void expectLoads(const std::u16string& name, std::uint32_t flags) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    os_.setLastError(kUntouched);
    const ModuleHandle module = os_.loadLibraryEx(name.c_str(), flags);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(os_.getLastError(), kUntouched);
    const auto answer = reinterpret_cast<AnswerFunction>(os_.getProcAddress(module, kAnswerExport));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), kAnswer);
    EXPECT_EQ(os_.getProcAddress(module, "noSuchExport"), nullptr);
    EXPECT_TRUE(os_.freeLibrary(module));
  }

  void expectRefused(const std::u16string& name, std::uint32_t flags, std::uint32_t error) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_EQ(os_.loadLibraryEx(name.c_str(), flags), nullptr);
    EXPECT_EQ(os_.getLastError(), error);
  }

  testing::TemporaryDirectory root_;
  fs::path systemDir_;
  LinuxOsServices os_;
};

TEST_F(LinuxLoaderTest, BareNameWithSystemFlagLoadsFromTheSystemDirectory) {
  expectLoads(u"probe.dll", kLoadLibrarySearchSystem32);
}

TEST_F(LinuxLoaderTest, FailedLoadsTellMissingFromUnloadable) {
  expectRefused(u"missing.dll", kLoadLibrarySearchSystem32, kErrorModNotFound);
  expectRefused(u"notalib.dll", kLoadLibrarySearchSystem32, kErrorBadExeFormat);
  expectRefused(widen((systemDir_ / "missing.dll").string()), kNoFlags, kErrorModNotFound);
}

TEST_F(LinuxLoaderTest, NamesAreNeverSearchedForOutsideTheSystemDirectory) {
  placeLibrary(root_.path() / "probe.dll");
  placeLibrary(root_.path() / "onlyhere.dll");
  fs::create_directory(root_.path() / "sub");
  placeLibrary(root_.path() / "sub" / "probe.dll");
  const CurrentDirectory inRoot(root_.path());

  expectRefused(u"probe.dll", kNoFlags, kErrorModNotFound);
  expectRefused(u"onlyhere.dll", kLoadLibrarySearchSystem32, kErrorModNotFound);
  expectRefused(u"sub\\probe.dll", kLoadLibrarySearchSystem32, kErrorModNotFound);
  expectRefused(u"./probe.dll", kLoadLibrarySearchSystem32, kErrorModNotFound);
  expectRefused(u"", kLoadLibrarySearchSystem32, kErrorModNotFound);
}

TEST_F(LinuxLoaderTest, FullPathsOpenThatFileWithBackslashesAsSeparators) {
  // The shape the trusted loader builds: "<system directory>\<name>".
  const std::u16string windowsShaped = widen(systemDir_.string()) + u"\\probe.dll";
  expectLoads(windowsShaped, kNoFlags);
  expectLoads(windowsShaped, kLoadLibrarySearchSystem32);
  expectLoads(widen((systemDir_ / "probe.dll").string()), kNoFlags);
}

TEST_F(LinuxLoaderTest, NonAsciiNamesOpenTheirUtf8Files) {
  placeLibrary(systemDir_ /
               "pr\xC3\xB8"
               "be.dll");
  placeLibrary(systemDir_ / "\xF0\x9F\x98\x80.dll");
  expectLoads(u"pr\u00F8be.dll", kLoadLibrarySearchSystem32);
  expectLoads(u"\U0001F600.dll", kLoadLibrarySearchSystem32);
  // A lone surrogate names no file.
  const char16_t loneSurrogate[] = {0xD83D, u'.', u'd', u'l', u'l', 0};
  expectRefused(loneSurrogate, kLoadLibrarySearchSystem32, kErrorModNotFound);
}

TEST(LinuxSystemDirectoryTest, SizesInUtf16UnitsLikeGetSystemDirectoryW) {
  // 6 ASCII units, one unit for the o-slash and a surrogate pair: 9 units, 10 with terminator.
  LinuxOsServices os("/sys32\xC3\xB8\xF0\x9F\x98\x80");
  const std::u16string expected = u"/sys32\u00F8\U0001F600";
  ASSERT_EQ(expected.size(), 9u);

  EXPECT_EQ(os.getSystemDirectory(nullptr, 0), 10u);
  std::vector<char16_t> buffer(16, u'#');
  EXPECT_EQ(os.getSystemDirectory(buffer.data(), 9), 10u);
  EXPECT_EQ(buffer[0], u'#') << "a buffer that is too small stays untouched";
  EXPECT_EQ(os.getSystemDirectory(buffer.data(), 10), 9u);
  EXPECT_EQ(std::u16string(buffer.data()), expected);
}

TEST(LinuxSystemDirectoryTest, SystemPlatformUsesTheConfiguredDirectory) {
  const auto platform = createSystemPlatform();
  std::vector<char16_t> buffer(4096);
  const std::uint32_t length =
      platform->os().getSystemDirectory(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  EXPECT_EQ(std::u16string(buffer.data(), length), widen(ARGB_SYSTEM_DIR));
}

TEST(LinuxModuleFileNameTest, IsTheExecutableAndTruncatesLikeGetModuleFileNameA) {
  const std::string executable = fs::read_symlink("/proc/self/exe").string();
  ASSERT_GT(executable.size(), 8u);
  LinuxOsServices os("/unused");
  std::vector<char> buffer(executable.size() + 1, '#');

  EXPECT_EQ(os.getModuleFileName(buffer.data(), static_cast<std::uint32_t>(buffer.size())),
            executable.size());
  EXPECT_EQ(std::string(buffer.data()), executable);

  // One short: cut to the buffer with the terminator, the buffer size returned.
  std::fill(buffer.begin(), buffer.end(), '#');
  const auto shortSize = static_cast<std::uint32_t>(executable.size());
  EXPECT_EQ(os.getModuleFileName(buffer.data(), shortSize), shortSize);
  EXPECT_EQ(std::string(buffer.data()), executable.substr(0, executable.size() - 1));
  EXPECT_EQ(os.getLastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(os.getModuleFileName(buffer.data(), 0), 0u);
}

TEST(LinuxOsServicesTest, ReportsBuild9200) {
  LinuxOsServices os("/unused");
  EXPECT_TRUE(os.isBuildNumberAtLeast(7600));
  EXPECT_TRUE(os.isBuildNumberAtLeast(9200));
  EXPECT_FALSE(os.isBuildNumberAtLeast(9201));
}

TEST(LinuxOsServicesTest, LastErrorBelongsToTheCallingThread) {
  LinuxOsServices os("/unused");
  os.setLastError(5);
  std::uint32_t seenByOtherThread = 99;
  std::thread([&] {
    seenByOtherThread = os.getLastError();
    os.setLastError(7);
  }).join();
  EXPECT_EQ(seenByOtherThread, 0u);
  EXPECT_EQ(os.getLastError(), 5u);
}

TEST(LinuxOsServicesTest, CriticalSectionIsRecursiveForItsOwnerAndExcludesOthers) {
  LinuxOsServices os("/unused");
  CriticalSection section;
  os.initializeCriticalSection(section);
  os.enterCriticalSection(section);
  os.enterCriticalSection(section);

  std::atomic<bool> otherEntered{false};
  std::thread other([&] {
    os.enterCriticalSection(section);
    otherEntered = true;
    os.leaveCriticalSection(section);
  });
  os.leaveCriticalSection(section);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(otherEntered) << "still held once by its owner";
  os.leaveCriticalSection(section);
  other.join();
  EXPECT_TRUE(otherEntered);
}

}  // namespace
}  // namespace argb::platform
