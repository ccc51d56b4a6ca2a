#pragma once

#include <cstdint>

#include "driver/CSingletonCriticalSection.h"
#include "driver/NvApi.h"
#include "driver/TrustedLibraryLoader.h"
#include "platform/OsServices.h"

namespace argb::driver {

// Front statuses, besides the driver's own ones that pass through unchanged.
inline constexpr NvApiStatus kFrontNoQueryEntry = -1;
inline constexpr NvApiStatus kFrontLibraryNotLoaded = -2;
inline constexpr NvApiStatus kFrontFunctionNotOffered = -3;

// The process's only way into the display driver: loads the driver library from the system
// directory on first use, initialises the driver once and resolves each function by its interface
// ID on first call, bracketing every call with the driver's optional hooks.
class DriverFront final : public NvApi {
 public:
  DriverFront(platform::OsServices& os, TrustedLibraryLoader& loader) : os_(os), loader_(loader) {}

  NvApiStatus NvAPI_Initialize() override;
  NvApiStatus NvAPI_EnumPhysicalGPUs(GpuHandle handles[kMaxPhysicalGpus],
                                     std::uint32_t* count) override;
  NvApiStatus NvAPI_I2CWriteEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) override;
  NvApiStatus NvAPI_I2CReadEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) override;

  bool isLoaded() const { return driverModule_ != nullptr; }
  // The thread's last error as the failing step of the last load left it (the load, a missing
  // entry, the driver's initialise), read before the library is freed; 0 after a success.
  std::uint32_t failureError() const { return failureError_; }

 private:
  struct FunctionCache {
    EnumPhysicalGpusFn enumPhysicalGpus = nullptr;
    I2cTransferFn i2cWriteEx = nullptr;
    I2cTransferFn i2cReadEx = nullptr;
  };

  NvApiStatus EnsureDriverLibrary();
  NvApiStatus LoadDriverLibrary();
  NvApiStatus ResolveLibraryEntries(platform::ModuleHandle module);
  CSingletonCriticalSection& criticalSection();

  template <typename Function, typename... Args>
  NvApiStatus callWrapped(std::uint32_t id, Function& cacheEntry, Args... args);

  platform::OsServices& os_;
  TrustedLibraryLoader& loader_;
  platform::ModuleHandle driverModule_ = nullptr;
  QueryInterfaceFn queryInterface_ = nullptr;
  InitializeFn driverInitialize_ = nullptr;
  CallBeginHookFn callBeginHook_ = nullptr;
  CallEndHookFn callEndHook_ = nullptr;
  FunctionCache cache_;
  std::uint32_t failureError_ = 0;
};

}  // namespace argb::driver
