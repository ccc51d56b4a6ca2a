#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/linux/LinuxOsServices.h"
#include "platform/linux/LinuxRunLock.h"

namespace argb::platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kNoFlags = 0;
// The numbers Windows gives, written out: callers of the stand-in test for these very values.
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kNotFound = 126;
constexpr std::uint32_t kNotALibrary = 193;
constexpr std::uint32_t kUntouched = 1234;
constexpr int kTestLibraryAnswer = 42;

// Test paths are ASCII, except where a test spells out its UTF-16 name itself.
std::u16string widen(const std::string& text) {
  return {text.begin(), text.end()};
}

// A system directory of its own in a fresh temporary directory, holding the test library as
// "probe.dll" and a text file as "notalib.dll".
class LinuxLoaderTest : public ::testing::Test {
 protected:
  LinuxLoaderTest() {
    fs::create_directory(systemDir_);
    placeLibrary(systemDir_ / "probe.dll");
    std::ofstream(systemDir_ / "notalib.dll") << "plain text, not a library\n";
  }
  ~LinuxLoaderTest() override {
    fs::current_path(startDir_);
    fs::remove_all(root_);
  }

  static void placeLibrary(const fs::path& where) { fs::copy_file(ARGB_TEST_LIBRARY, where); }

  // The test library's export answers from the loaded module; the last error stays as it was.
  void expectLoads(const std::u16string& name, std::uint32_t flags) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    os_.setLastError(kUntouched);
    const ModuleHandle module = os_.loadLibraryEx(name.c_str(), flags);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(os_.getLastError(), kUntouched);
    const auto answer = reinterpret_cast<int (*)()>(os_.getProcAddress(module, "argbTestAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), kTestLibraryAnswer);
    EXPECT_EQ(os_.getProcAddress(module, "noSuchExport"), nullptr);
    EXPECT_TRUE(os_.freeLibrary(module));
  }

  void expectRefused(const std::u16string& name, std::uint32_t flags, std::uint32_t error) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_EQ(os_.loadLibraryEx(name.c_str(), flags), nullptr);
    EXPECT_EQ(os_.getLastError(), error);
  }

  static fs::path makeTemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "argb-platform-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
  }

  const fs::path startDir_ = fs::current_path();
  const fs::path root_ = makeTemporaryDirectory();
  const fs::path systemDir_ = root_ / "system32";
  LinuxOsServices os_{systemDir_.string()};
};

TEST_F(LinuxLoaderTest, OpensBareNamesInTheSystemDirectoryAndFullPathsAsGiven) {
  expectLoads(u"probe.dll", kLoadLibrarySearchSystem32);
  // The shape the trusted loader builds on older systems: "<system directory>\<name>".
  const std::u16string windowsShaped = widen(systemDir_.string()) + u"\\probe.dll";
  expectLoads(windowsShaped, kNoFlags);
  expectLoads(windowsShaped, kLoadLibrarySearchSystem32);

  // Names with characters of two, three and four UTF-8 bytes, three-byte ones at both ends.
  placeLibrary(systemDir_ / u8"pr\u00F8be.dll");
  placeLibrary(systemDir_ / u8"\u0800\uFFFF.dll");
  placeLibrary(systemDir_ / u8"\U0010FFFD.dll");
  expectLoads(u"pr\u00F8be.dll", kLoadLibrarySearchSystem32);
  expectLoads(u"\u0800\uFFFF.dll", kLoadLibrarySearchSystem32);
  expectLoads(u"\U0010FFFD.dll", kLoadLibrarySearchSystem32);  // all surrogate bits set
}

TEST_F(LinuxLoaderTest, RefusalsTellMissingFromUnloadableAndNothingIsSearchedFor) {
  expectRefused(u"missing.dll", kLoadLibrarySearchSystem32, kNotFound);
  expectRefused(u"notalib.dll", kLoadLibrarySearchSystem32, kNotALibrary);
  expectRefused(widen((systemDir_ / "missing.dll").string()), kNoFlags, kNotFound);
  const char16_t loneSurrogate[] = {0xD83D, u'.', u'd', u'l', u'l', 0};
  expectRefused(loneSurrogate, kLoadLibrarySearchSystem32, kNotFound);

  // Loadable copies in the current directory and below it are never found by name.
  placeLibrary(root_ / "probe.dll");
  placeLibrary(root_ / "onlyhere.dll");
  fs::create_directory(root_ / "sub");
  placeLibrary(root_ / "sub" / "probe.dll");
  fs::current_path(root_);
  expectRefused(u"probe.dll", kNoFlags, kNotFound);
  expectRefused(u"onlyhere.dll", kLoadLibrarySearchSystem32, kNotFound);
  expectRefused(u"sub\\probe.dll", kLoadLibrarySearchSystem32, kNotFound);
  expectRefused(u"./probe.dll", kLoadLibrarySearchSystem32, kNotFound);
}

TEST(LinuxSystemDirectoryTest, SizesInUtf16UnitsLikeGetSystemDirectoryW) {
  // 6 ASCII units, one for the o-slash and a surrogate pair: 9 units, 10 with the terminator.
  LinuxOsServices os("/sys32\xC3\xB8\xF0\x9F\x98\x80");
  EXPECT_EQ(os.getSystemDirectory(nullptr, 0), 10u);
  std::vector<char16_t> buffer(16, u'#');
  EXPECT_EQ(os.getSystemDirectory(buffer.data(), 9), 10u);
  EXPECT_EQ(buffer[0], u'#') << "a buffer that is too small stays untouched";
  EXPECT_EQ(os.getSystemDirectory(buffer.data(), 10), 9u);
  EXPECT_EQ(std::u16string(buffer.data()), u"/sys32\u00F8\U0001F600");
}

TEST(LinuxModuleFileNameTest, IsTheExecutableAndTruncatesLikeGetModuleFileNameA) {
  const std::string executable = fs::read_symlink("/proc/self/exe").string();
  LinuxOsServices os("/unused");
  std::vector<char> buffer(executable.size() + 1, '#');
  const auto fullSize = static_cast<std::uint32_t>(buffer.size());
  EXPECT_EQ(os.getModuleFileName(buffer.data(), fullSize), executable.size());
  EXPECT_EQ(std::string(buffer.data()), executable);

  // One short: cut to the buffer with the terminator, and the buffer size returned.
  std::fill(buffer.begin(), buffer.end(), '#');
  EXPECT_EQ(os.getModuleFileName(buffer.data(), fullSize - 1), fullSize - 1);
  EXPECT_EQ(std::string(buffer.data()), executable.substr(0, executable.size() - 1));
  EXPECT_EQ(os.getLastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(os.getModuleFileName(buffer.data(), 0), 0u);
}

// The stand-in plays build 9200, the first build with the system-directory flag.
TEST(LinuxVersionTest, IsBuild9200AtLeastButNotAnyLaterBuild) {
  LinuxOsServices os("/unused");
  EXPECT_TRUE(os.isBuildNumberAtLeast(9200));
  EXPECT_FALSE(os.isBuildNumberAtLeast(9201));
}

TEST(LinuxLocalAllocTest, BlocksAreZeroFilledAlsoWhereFreedMemoryIsReused) {
  LinuxOsServices os("/unused");
  for (const std::size_t bytes : {std::size_t{1}, std::size_t{100}, std::size_t{5000}}) {
    for (int round = 0; round < 2; ++round) {
      auto* const block = static_cast<unsigned char*>(os.localAlloc(bytes));
      ASSERT_NE(block, nullptr);
      EXPECT_EQ(std::count(block, block + bytes, 0), static_cast<std::ptrdiff_t>(bytes)) << bytes;
      // Left behind for the next round, whose block is likely this one again.
      std::fill(block, block + bytes, 0xA5);
      os.localFree(block);
    }
  }
}

// A file renamed over the lock file between the open and the flock, on every try: the locked file
// has lost its name, and a run that kept it would run beside the next one.
TEST(LinuxRunLockTest, AFileSwappedBeforeTheFlockIsNeverTheOneHeld) {
  std::string dir = fs::temp_directory_path() / "argb-run-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/" + LinuxRunLock::kFileName;
  LinuxRunLock lock(dir, [&] {
    std::ofstream{dir + "/new"}.close();
    fs::rename(dir + "/new", path);
  });
  EXPECT_EQ(lock.take().cause, path + ": the file was replaced while this run was locking it");
  fs::remove_all(dir);
}

// Another user must read it to meet the lock, and must not write it: the kernel lets a user
// hard-link a file they may write, and the second name would have the owner's next run refuse it.
TEST(LinuxRunLockTest, TheFileMadeIsWritableByItsOwnerAloneWhateverTheUmask) {
  for (const mode_t mask : {0000, 0022, 0077}) {
    std::string dir = fs::temp_directory_path() / "argb-run-lock-XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const mode_t previous = ::umask(mask);
    LinuxRunLock lock(dir);
    EXPECT_EQ(lock.take().outcome, RunLock::Outcome::kTaken);
    ::umask(previous);
    struct stat made {};
    ASSERT_EQ(::stat((dir + "/" + LinuxRunLock::kFileName).c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0644u) << "umask " << std::oct << mask;
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace argb::platform
