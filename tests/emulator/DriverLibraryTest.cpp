// The built library as the updater loads it: by absolute path, through its one export.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "emulator/DriverRecord.h"

namespace argb::emulator {
namespace {

using QueryFn = void* (*)(std::uint32_t);
using InitializeFn = std::int32_t (*)();
using EnumFn = std::int32_t (*)(GpuHandle*, std::uint32_t*);
using TransferFn = std::int32_t (*)(GpuHandle, I2cRecordV3*, std::uint32_t*);

template <typename Fn>
Fn lookup(QueryFn query, std::uint32_t id) {
  return reinterpret_cast<Fn>(query(id));
}

// One test only: the library reads its environment once per process.
TEST(DriverLibrary, AnswersTheVersionQueryThroughItsOnlyExport) {
  ::setenv("ARGB_EMU_VERSION", "40.70.00.07", 1);
  void* library = ::dlopen(ARGB_EMU_DRIVER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  auto query = reinterpret_cast<QueryFn>(::dlsym(library, "nvapi_QueryInterface"));
  ASSERT_NE(query, nullptr);

  auto initialize = lookup<InitializeFn>(query, kIdInitialize);
  auto enumerate = lookup<EnumFn>(query, kIdEnumPhysicalGpus);
  auto write = lookup<TransferFn>(query, kIdI2cWriteEx);
  auto read = lookup<TransferFn>(query, kIdI2cReadEx);
  ASSERT_TRUE(initialize && enumerate && write && read);
  EXPECT_NE(query(kIdCallBeginHook), nullptr);
  EXPECT_EQ(query(0xDEADBEEF), nullptr);

  ASSERT_EQ(initialize(), kStatusOk);
  GpuHandle handles[kMaxPhysicalGpus] = {};
  std::uint32_t count = 0;
  ASSERT_EQ(enumerate(handles, &count), kStatusOk);
  EXPECT_EQ(count, 1u);

  std::uint8_t reg = 0x81;
  std::uint8_t data[8] = {};
  I2cRecordV3 record{kRecordVersion3, 0, 0, 0xC0, &reg, 1, data, 7, 0xFFFF, 2, 1, 1};
  std::uint32_t arg = 0;
  ASSERT_EQ(write(handles[0], &record, &arg), kStatusOk);
  record.i2cDevAddress = 0xC1;
  record.cbSize = 8;
  ASSERT_EQ(read(handles[0], &record, &arg), kStatusOk);
  const std::uint8_t expected[8] = {0x81, 0, 0, 0, 0x40, 0x70, 0x00, 0x07};
  EXPECT_TRUE(std::equal(expected, expected + 8, data));
}

}  // namespace
}  // namespace argb::emulator
