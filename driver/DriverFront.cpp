#include "driver/DriverFront.h"

namespace argb::driver {
namespace {

// Driver entries arrive as untyped addresses; the interface ID fixes each one's call shape.
template <typename Function>
Function asFunction(void* address) {
  return reinterpret_cast<Function>(address);
}

}  // namespace

CSingletonCriticalSection& DriverFront::criticalSection() {
  // Made once for the process, by the first caller, before anyone can enter it; never destroyed,
  // so a caller late in process exit still finds it valid.
  static CSingletonCriticalSection* const section = new CSingletonCriticalSection(os_);
  return *section;
}

NvApiStatus DriverFront::ResolveLibraryEntries(platform::ModuleHandle module) {
  queryInterface_ =
      reinterpret_cast<QueryInterfaceFn>(os_.getProcAddress(module, kQueryInterfaceExport));
  if (queryInterface_ == nullptr) return kFrontNoQueryEntry;
  driverInitialize_ = asFunction<InitializeFn>(queryInterface_(kIdInitialize));
  if (driverInitialize_ == nullptr) return kFrontNoQueryEntry;

  const NvApiStatus status = driverInitialize_();
  if (status != kNvApiOk) return status;

  // The hooks only make sense as a pair: a begin without its end would never be closed.
  auto* begin = asFunction<CallBeginHookFn>(queryInterface_(kIdCallBeginHook));
  auto* end = asFunction<CallEndHookFn>(queryInterface_(kIdCallEndHook));
  const bool bothOffered = begin != nullptr && end != nullptr;
  callBeginHook_ = bothOffered ? begin : nullptr;
  callEndHook_ = bothOffered ? end : nullptr;

  cache_ = FunctionCache{};
  return kNvApiOk;
}

NvApiStatus DriverFront::LoadDriverLibrary() {
  if (driverModule_ != nullptr) return kNvApiOk;
  platform::ModuleHandle module =
      loader_.LoadTrustedLibrary(kDriverLibraryName, platform::kLoadLibrarySearchSystem32);
  if (module == nullptr) {
    failureError_ = os_.getLastError();
    return kFrontLibraryNotLoaded;
  }
  const NvApiStatus status = ResolveLibraryEntries(module);
  if (status != kNvApiOk) {
    // Freeing the library may change the last error, which must still give the failure's.
    failureError_ = os_.getLastError();
    os_.freeLibrary(module);
    return status;
  }
  failureError_ = 0;
  driverModule_ = module;
  return kNvApiOk;
}

NvApiStatus DriverFront::EnsureDriverLibrary() {
  if (driverModule_ != nullptr) return kNvApiOk;
  return LoadDriverLibrary();
}

NvApiStatus DriverFront::NvAPI_Initialize() {
  CSingletonCriticalSection& section = criticalSection();
  section.enter(os_);
  const NvApiStatus status = EnsureDriverLibrary();
  section.leave(os_);
  return status;
}

template <typename Function, typename... Args>
NvApiStatus DriverFront::callWrapped(std::uint32_t id, Function& cacheEntry, Args... args) {
  const NvApiStatus ready = EnsureDriverLibrary();
  if (ready != kNvApiOk) return ready;
  if (cacheEntry == nullptr) cacheEntry = asFunction<Function>(queryInterface_(id));
  if (cacheEntry == nullptr) return kFrontFunctionNotOffered;

  std::uint64_t cookie = 0;
  if (callBeginHook_ != nullptr) callBeginHook_(id, &cookie);
  const NvApiStatus status = cacheEntry(args...);
  if (callEndHook_ != nullptr) callEndHook_(id, cookie, status);
  return status;
}

NvApiStatus DriverFront::NvAPI_EnumPhysicalGPUs(GpuHandle handles[kMaxPhysicalGpus],
                                                std::uint32_t* count) {
  return callWrapped(kIdEnumPhysicalGpus, cache_.enumPhysicalGpus, handles, count);
}

NvApiStatus DriverFront::NvAPI_I2CWriteEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) {
  return callWrapped(kIdI2cWriteEx, cache_.i2cWriteEx, gpu, info, unknown);
}

NvApiStatus DriverFront::NvAPI_I2CReadEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) {
  return callWrapped(kIdI2cReadEx, cache_.i2cReadEx, gpu, info, unknown);
}

}  // namespace argb::driver
