#pragma once

#include <cstdint>

#include "driver/NvApiTypes.h"

namespace argb::driver {

// The four driver functions the transport needs, with the driver's own argument lists.
class NvApi {
 public:
  virtual ~NvApi() = default;
  virtual NvApiStatus NvAPI_Initialize() = 0;
  virtual NvApiStatus NvAPI_EnumPhysicalGPUs(GpuHandle handles[kMaxPhysicalGpus],
                                             std::uint32_t* count) = 0;
  virtual NvApiStatus NvAPI_I2CWriteEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) = 0;
  virtual NvApiStatus NvAPI_I2CReadEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown) = 0;
};

}  // namespace argb::driver
