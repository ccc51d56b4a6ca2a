#include "tests/support/FakeDriverLibrary.h"

namespace argb::testing {
namespace {

const auto kDriverModule = reinterpret_cast<platform::ModuleHandle>(0xD11);

driver::NvApi* active = nullptr;
bool hooksOffered = false;

driver::NvApiStatus initialize() {
  return active->NvAPI_Initialize();
}
driver::NvApiStatus enumerate(driver::GpuHandle handles[driver::kMaxPhysicalGpus],
                              std::uint32_t* count) {
  return active->NvAPI_EnumPhysicalGPUs(handles, count);
}
driver::NvApiStatus write(driver::GpuHandle gpu, driver::I2cInfo* info, std::uint32_t* value) {
  return active->NvAPI_I2CWriteEx(gpu, info, value);
}
driver::NvApiStatus read(driver::GpuHandle gpu, driver::I2cInfo* info, std::uint32_t* value) {
  return active->NvAPI_I2CReadEx(gpu, info, value);
}
void begin(std::uint32_t, std::uint64_t*) {}
void end(std::uint32_t, std::uint64_t, driver::NvApiStatus) {}

void* query(std::uint32_t id) {
  switch (id) {
    case driver::kIdInitialize:
      return reinterpret_cast<void*>(&initialize);
    case driver::kIdEnumPhysicalGpus:
      return reinterpret_cast<void*>(&enumerate);
    case driver::kIdI2cWriteEx:
      return reinterpret_cast<void*>(&write);
    case driver::kIdI2cReadEx:
      return reinterpret_cast<void*>(&read);
    case driver::kIdCallBeginHook:
      return hooksOffered ? reinterpret_cast<void*>(&begin) : nullptr;
    case driver::kIdCallEndHook:
      return hooksOffered ? reinterpret_cast<void*>(&end) : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

void installDriverLibrary(FakePlatform& platform, driver::NvApi& driver, bool offerHooks) {
  active = &driver;
  hooksOffered = offerHooks;
  // By bare name from Windows 8 on, by its path in the system directory before.
  platform.loadAnswers["nvapi64.dll"] = {kDriverModule, 0};
  platform.loadAnswers[narrow(platform.systemDirectory.c_str()) + "\\nvapi64.dll"] = {kDriverModule,
                                                                                      0};
  platform.exports[{kDriverModule, driver::kQueryInterfaceExport}] =
      reinterpret_cast<platform::ProcAddress>(&query);
}

}  // namespace argb::testing
