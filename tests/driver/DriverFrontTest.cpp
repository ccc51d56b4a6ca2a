#include "driver/DriverFront.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/FakePlatform.h"

namespace argb::driver {
namespace {

using testing::FakePlatform;

const auto kDriverModule = reinterpret_cast<platform::ModuleHandle>(0x1000);

// A driver library behind the query entry, with a record of every call into it.
struct FakeDriver {
  NvApiStatus initializeStatus = 0;
  // The last error the initialise leaves on `platform`, as a driver that fails may.
  std::uint32_t initializeError = 0;
  FakePlatform* platform = nullptr;
  std::set<std::uint32_t> missingIds;
  int initializeCalls = 0;
  std::vector<std::uint32_t> queries;
  std::vector<std::string> calls;
  static inline FakeDriver* active = nullptr;

  static void* query(std::uint32_t id) {
    active->queries.push_back(id);
    if (active->missingIds.count(id) != 0) return nullptr;
    switch (id) {
      case kIdInitialize:
        return reinterpret_cast<void*>(&initialize);
      case kIdEnumPhysicalGpus:
        return reinterpret_cast<void*>(&enumerate);
      case kIdI2cWriteEx:
        return reinterpret_cast<void*>(&write);
      case kIdI2cReadEx:
        return reinterpret_cast<void*>(&read);
      case kIdCallBeginHook:
        return reinterpret_cast<void*>(&begin);
      case kIdCallEndHook:
        return reinterpret_cast<void*>(&end);
      default:
        return nullptr;
    }
  }
  static NvApiStatus initialize() {
    ++active->initializeCalls;
    if (active->initializeError != 0) active->platform->lastError = active->initializeError;
    return active->initializeStatus;
  }
  static NvApiStatus enumerate(GpuHandle handles[kMaxPhysicalGpus], std::uint32_t* count) {
    handles[0] = reinterpret_cast<GpuHandle>(0xABC);
    *count = 1;
    active->calls.push_back("enumerate");
    return 0;
  }
  static NvApiStatus write(GpuHandle, I2cInfo*, std::uint32_t*) {
    active->calls.push_back("write");
    return 7;
  }
  static NvApiStatus read(GpuHandle, I2cInfo*, std::uint32_t*) {
    active->calls.push_back("read");
    return 0;
  }
  static void begin(std::uint32_t id, std::uint64_t* cookie) {
    active->calls.push_back("begin " + std::to_string(id) + " cookie " + std::to_string(*cookie));
    *cookie = 0x55;
  }
  static void end(std::uint32_t id, std::uint64_t cookie, NvApiStatus status) {
    active->calls.push_back("end " + std::to_string(id) + " cookie " + std::to_string(cookie) +
                            " status " + std::to_string(status));
  }
};

class DriverFrontTest : public ::testing::Test {
 protected:
  DriverFrontTest() {
    FakeDriver::active = &driver;
    driver.platform = &fake;
    // A free that clears the last error, so that the failure's must be read before it.
    fake.freeLibraryError = 0;
    offerLibrary();
  }
  ~DriverFrontTest() override { FakeDriver::active = nullptr; }

  void offerLibrary() {
    fake.loadAnswers["nvapi64.dll"] = {kDriverModule, 0};
    fake.exports[{kDriverModule, "nvapi_QueryInterface"}] =
        reinterpret_cast<platform::ProcAddress>(&FakeDriver::query);
  }
  int driverLoads() const {
    int count = 0;
    for (const auto& load : fake.loads) count += load.name == "nvapi64.dll" ? 1 : 0;
    return count;
  }

  FakeDriver driver;
  FakePlatform fake;
  TrustedLibraryLoader loader{fake};
  DriverFront front{fake, loader};
  GpuHandle handles[kMaxPhysicalGpus] = {};
  std::uint32_t count = 0;
  I2cInfo record{};
  std::uint32_t argument = 0;
};

TEST_F(DriverFrontTest, TheDriverIsLoadedAndInitialisedOnceUnderTheLock) {
  EXPECT_EQ(front.NvAPI_Initialize(), 0);
  EXPECT_EQ(front.NvAPI_Initialize(), 0);
  EXPECT_EQ(front.NvAPI_Initialize(), 0);
  EXPECT_EQ(driver.initializeCalls, 1);
  EXPECT_EQ(driverLoads(), 1);
  EXPECT_EQ(fake.loads.back().flags, 0x800u);
  EXPECT_EQ(fake.criticalSectionEnters, 3);
  EXPECT_EQ(fake.criticalSectionDepth, 0);
  EXPECT_EQ(fake.criticalSectionMisuses, 0);
}

// The lock belongs to the process: an earlier test may already have made it, but never twice.
TEST(DriverFrontLockTest, TheLockIsMadeOnceBeforeItsFirstEnterAndOutlivesEveryFront) {
  int inits = 0;
  for (int round = 0; round < 3; ++round) {
    FakePlatform fake;
    TrustedLibraryLoader loader(fake);
    {
      DriverFront transient(fake, loader);
      EXPECT_EQ(transient.NvAPI_Initialize(), kFrontLibraryNotLoaded);
    }
    EXPECT_EQ(fake.criticalSectionEnters, 1);
    EXPECT_EQ(fake.criticalSectionMisuses, 0) << "round " << round;
    inits += fake.criticalSectionInits;
  }
  EXPECT_LE(inits, 1);
}

TEST_F(DriverFrontTest, AWrappedCallFirstLoadsTheDriverWithoutTheLock) {
  EXPECT_EQ(front.NvAPI_EnumPhysicalGPUs(handles, &count), 0);
  EXPECT_EQ(handles[0], reinterpret_cast<GpuHandle>(0xABC));
  EXPECT_EQ(front.NvAPI_Initialize(), 0);
  EXPECT_EQ(driver.initializeCalls, 1);
  EXPECT_EQ(fake.criticalSectionEnters, 1) << "only the initialise takes the lock";
}

TEST_F(DriverFrontTest, NoLibraryGivesMinusTwoUntilItAppears) {
  fake.loadAnswers.clear();
  EXPECT_EQ(front.NvAPI_Initialize(), -2);
  EXPECT_EQ(front.failureError(), platform::kErrorModNotFound);
  EXPECT_EQ(front.NvAPI_EnumPhysicalGPUs(handles, &count), -2);
  EXPECT_EQ(front.NvAPI_I2CWriteEx(nullptr, &record, &argument), -2);
  EXPECT_EQ(front.NvAPI_I2CReadEx(nullptr, &record, &argument), -2);
  EXPECT_TRUE(driver.queries.empty());
  offerLibrary();
  EXPECT_EQ(front.NvAPI_Initialize(), 0);
  EXPECT_TRUE(front.isLoaded());
  EXPECT_EQ(front.failureError(), 0u);
}

TEST_F(DriverFrontTest, MissingQueryEntryOrInitialiseGivesMinusOneAndFreesTheModule) {
  fake.exports.clear();
  EXPECT_EQ(front.NvAPI_Initialize(), -1);
  EXPECT_EQ(fake.frees, std::vector<platform::ModuleHandle>{kDriverModule});

  offerLibrary();
  driver.missingIds = {kIdInitialize};
  EXPECT_EQ(front.NvAPI_Initialize(), -1);
  EXPECT_EQ(fake.frees.size(), 2u);
  EXPECT_FALSE(front.isLoaded());
}

TEST_F(DriverFrontTest, AFailingInitialiseIsReturnedAndRetriedOnTheNextCall) {
  driver.initializeStatus = -6;
  driver.initializeError = platform::kErrorModNotFound;
  EXPECT_EQ(front.NvAPI_Initialize(), -6);
  EXPECT_EQ(front.failureError(), platform::kErrorModNotFound);
  EXPECT_EQ(fake.frees.size(), 1u);
  EXPECT_FALSE(front.isLoaded());
  EXPECT_EQ(front.NvAPI_EnumPhysicalGPUs(handles, &count), -6);
  EXPECT_EQ(driver.initializeCalls, 2);
  EXPECT_TRUE(driver.calls.empty()) << "no hook and no function before a good initialise";
  driver.initializeStatus = 0;
  EXPECT_EQ(front.NvAPI_EnumPhysicalGPUs(handles, &count), 0);
}

TEST_F(DriverFrontTest, AnUnofferedFunctionGivesMinusThreeWithoutHooksAndIsAskedAgain) {
  driver.missingIds = {kIdI2cWriteEx};
  EXPECT_EQ(front.NvAPI_I2CWriteEx(nullptr, &record, &argument), -3);
  EXPECT_EQ(front.NvAPI_I2CWriteEx(nullptr, &record, &argument), -3);
  EXPECT_TRUE(driver.calls.empty());
  EXPECT_EQ(front.NvAPI_I2CReadEx(nullptr, &record, &argument), 0);
  int writeQueries = 0;
  for (const auto id : driver.queries) writeQueries += id == kIdI2cWriteEx ? 1 : 0;
  EXPECT_EQ(writeQueries, 2);
}

TEST_F(DriverFrontTest, FunctionsAreResolvedOnceAndBracketedByTheHooks) {
  EXPECT_EQ(front.NvAPI_I2CWriteEx(nullptr, &record, &argument), 7);
  EXPECT_EQ(front.NvAPI_I2CWriteEx(nullptr, &record, &argument), 7);
  const std::string id = std::to_string(kIdI2cWriteEx);
  const std::vector<std::string> once = {"begin " + id + " cookie 0", "write",
                                         "end " + id + " cookie 85 status 7"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(driver.calls, twice);
  int writeQueries = 0;
  for (const auto query : driver.queries) writeQueries += query == kIdI2cWriteEx ? 1 : 0;
  EXPECT_EQ(writeQueries, 1);
}

TEST_F(DriverFrontTest, ASingleHookIsNeverCalled) {
  for (const std::uint32_t missing : {kIdCallBeginHook, kIdCallEndHook}) {
    FakeDriver lone;
    lone.missingIds = {missing};
    FakeDriver::active = &lone;
    FakePlatform platform;
    platform.loadAnswers["nvapi64.dll"] = {kDriverModule, 0};
    platform.exports[{kDriverModule, "nvapi_QueryInterface"}] =
        reinterpret_cast<platform::ProcAddress>(&FakeDriver::query);
    TrustedLibraryLoader freshLoader(platform);
    DriverFront freshFront(platform, freshLoader);
    EXPECT_EQ(freshFront.NvAPI_I2CReadEx(nullptr, &record, &argument), 0);
    EXPECT_EQ(lone.calls, std::vector<std::string>{"read"});
  }
  FakeDriver::active = &driver;
}

}  // namespace
}  // namespace argb::driver
