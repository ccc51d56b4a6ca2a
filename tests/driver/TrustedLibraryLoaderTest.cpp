#include "driver/TrustedLibraryLoader.h"

#include <gtest/gtest.h>

#include "tests/support/FakePlatform.h"

namespace argb::driver {
namespace {

using testing::FakePlatform;

const auto kDriverModule = reinterpret_cast<platform::ModuleHandle>(0x1000);
constexpr char kSystemDir[] = "C:\\Windows\\system32";

class TrustedLibraryLoaderTest : public ::testing::Test {
 protected:
  TrustedLibraryLoaderTest() {
    fake.loadAnswers["nvapi64.dll"] = {kDriverModule, 0};
    fake.loadAnswers[std::string(kSystemDir) + "\\nvapi64.dll"] = {kDriverModule, 0};
  }

  std::vector<std::string> loadedNames() const {
    std::vector<std::string> names;
    for (const auto& load : fake.loads) names.push_back(load.name);
    return names;
  }

  FakePlatform fake;
  TrustedLibraryLoader loader{fake};
};

TEST_F(TrustedLibraryLoaderTest, CurrentSystemsLoadBareNamesWithTheSystemDirectoryFlagOnly) {
  // Every search-path flag is dropped and the system-directory flag added, whatever the caller
  // passes: a caller that leaves it out must not get the ordinary search order.
  for (const std::uint32_t flags : {0x1F08u, 0x0u, 0x8u, 0x1708u}) {
    fake.loads.clear();
    EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", flags), kDriverModule);
    ASSERT_EQ(fake.loads.size(), 7u);
    for (const auto& load : fake.loads) EXPECT_EQ(load.flags, 0x800u) << load.name << flags;
    EXPECT_EQ(fake.loads.back().name, "nvapi64.dll");
  }
  EXPECT_EQ(loader.osGeneration(), 9200u);
}

TEST_F(TrustedLibraryLoaderTest, OlderSystemsLoadFullSystemPathsWithTheAlteredSearchOrder) {
  fake.buildAtLeast9200 = false;
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800 | 0x200), kDriverModule);
  const std::vector<std::string> expected = {
      "C:\\Windows\\system32\\msasn1.dll",   "C:\\Windows\\system32\\cryptnet.dll",
      "C:\\Windows\\system32\\drvstore.dll", "C:\\Windows\\system32\\devobj.dll",
      "C:\\Windows\\system32\\wldp.dll",     "C:\\Windows\\system32\\cryptbase.dll",
      "C:\\Windows\\system32\\nvapi64.dll"};
  EXPECT_EQ(loadedNames(), expected);
  // 0x8 alone: the imports of each library come from the system directory first.
  for (const auto& load : fake.loads) EXPECT_EQ(load.flags, 0x8u) << load.name;
  EXPECT_EQ(loader.osGeneration(), 7600u);
  EXPECT_EQ(fake.liveAllocations, 0) << "every built path is released";
}

TEST_F(TrustedLibraryLoaderTest, OlderSystemsJudgeEachLoadByItsOwnErrorNotByThePathsRelease) {
  fake.buildAtLeast9200 = false;
  fake.localFreeError = 87;
  fake.loadAnswers.clear();
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  EXPECT_EQ(loader.preloadResult(), 1) << "six missing system libraries are no refusal";
  EXPECT_EQ(fake.loads.size(), 7u);
  EXPECT_EQ(fake.lastError, platform::kErrorModNotFound) << "the driver load's own reason";
}

TEST_F(TrustedLibraryLoaderTest, NamesWithAPathSeparatorAreRefusedBeforeAnythingElse) {
  for (const char16_t* name :
       {u"..\\nvapi64.dll", u"sub/nvapi64.dll", u"C:\\x\\nvapi64.dll", u"nvapi64.dll/"}) {
    fake.lastError = 5;
    EXPECT_EQ(loader.LoadTrustedLibrary(name, 0x800), nullptr);
    EXPECT_EQ(fake.lastError, platform::kErrorBadArguments);
  }
  EXPECT_TRUE(fake.loads.empty());
  EXPECT_EQ(fake.versionTests, 0);
}

TEST_F(TrustedLibraryLoaderTest, VersionIsTestedOnceAndPreloadRunsUntilSomethingLoads) {
  loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800);
  loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800);
  EXPECT_EQ(fake.versionTests, 1);
  EXPECT_EQ(fake.loads.size(), 14u) << "nothing was preloaded, so the preload runs again";

  fake.loadAnswers["wldp.dll"] = {reinterpret_cast<platform::ModuleHandle>(0x2000), 0};
  loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800);
  loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800);
  EXPECT_EQ(fake.loads.size(), 22u) << "one preload pass more, then driver loads only";
}

TEST_F(TrustedLibraryLoaderTest, AnyOtherPreloadFailureRefusesForGoodOnceSomethingWasLoaded) {
  fake.loadAnswers["msasn1.dll"] = {reinterpret_cast<platform::ModuleHandle>(0x2000), 0};
  fake.loadAnswers["drvstore.dll"] = {nullptr, platform::kErrorBadExeFormat};
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  EXPECT_EQ(loadedNames(),
            (std::vector<std::string>{"msasn1.dll", "cryptnet.dll", "drvstore.dll"}));
  EXPECT_EQ(loader.preloadResult(), 0);
  // A partial preload is final: the next attempt neither preloads nor loads.
  fake.loadAnswers.erase("drvstore.dll");
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  EXPECT_EQ(fake.loads.size(), 3u);
}

TEST_F(TrustedLibraryLoaderTest, ARefusalWithNothingLoadedIsRetriedWhole) {
  fake.loadAnswers["msasn1.dll"] = {nullptr, 5};
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  fake.loadAnswers.erase("msasn1.dll");
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), kDriverModule);
  EXPECT_EQ(fake.loads.size(), 8u);
}

TEST_F(TrustedLibraryLoaderTest, ProtectedMediaHostComparesOnlySevenCharacters) {
  for (const char* path : {"C:\\Windows\\System32\\mfpmp.exe", "D:\\x\\mfpmp.dat"}) {
    FakePlatform host;
    host.moduleFileName = path;
    host.loadAnswers["nvapi64.dll"] = {kDriverModule, 0};
    TrustedLibraryLoader hostLoader(host);
    EXPECT_EQ(hostLoader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), kDriverModule);
    ASSERT_EQ(host.loads.size(), 1u) << path << ": nothing preloaded";
  }
  for (const char* path : {"C:\\Tools\\mfpmpx.exe", "C:\\Tools\\MFPMP.exe", "mfpmp.exe"}) {
    FakePlatform other;
    other.moduleFileName = path;
    TrustedLibraryLoader otherLoader(other);
    otherLoader.LoadTrustedLibrary(u"nvapi64.dll", 0x800);
    EXPECT_EQ(other.loads.size(), 7u) << path;
  }
}

TEST_F(TrustedLibraryLoaderTest, BuildSystemPathAddsExactlyOneBackslash) {
  char16_t* path = loader.BuildSystemPath(u"nvapi64.dll");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(testing::narrow(path), "C:\\Windows\\system32\\nvapi64.dll");
  fake.localFree(path);

  fake.systemDirectory = u"C:\\Windows\\system32\\";
  path = loader.BuildSystemPath(u"nvapi64.dll");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(testing::narrow(path), "C:\\Windows\\system32\\nvapi64.dll");
  fake.localFree(path);
  EXPECT_EQ(loader.BuildSystemPath(nullptr), nullptr);
}

TEST_F(TrustedLibraryLoaderTest, NoSystemDirectoryMeansNoPathAndNoLoad) {
  fake.systemDirectoryFails = true;
  EXPECT_EQ(loader.BuildSystemPath(u"nvapi64.dll"), nullptr);

  fake.buildAtLeast9200 = false;
  fake.loadAnswers["\\msasn1.dll"] = {reinterpret_cast<platform::ModuleHandle>(0x2000), 0};
  fake.loadAnswers["\\nvapi64.dll"] = {kDriverModule, 0};
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  EXPECT_TRUE(fake.loads.empty()) << "neither a root-relative path nor a bare name is loaded";
}

TEST_F(TrustedLibraryLoaderTest, AFailedPathAllocationLoadsNothingAndReportsIt) {
  fake.buildAtLeast9200 = false;
  // Six preload paths succeed, the driver's path allocation fails.
  fake.localAllocFailsAfter = 6;
  EXPECT_EQ(loader.LoadTrustedLibrary(u"nvapi64.dll", 0x800), nullptr);
  EXPECT_EQ(fake.loads.size(), 6u);
  EXPECT_EQ(fake.lastError, platform::kErrorNotEnoughMemory);
  EXPECT_EQ(fake.liveAllocations, 0);
}

}  // namespace
}  // namespace argb::driver
