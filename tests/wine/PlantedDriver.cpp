// A driver library planted where a careless loader would look: beside the program, in the current
// directory, on the search path. It answers like a healthy driver with a controller that reports
// 66.66.66.66, so any run that loaded it shows that version (and fails the version gate).

#include <cstdint>
#include <cstring>

#include "emulator/DriverRecord.h"

namespace {

using argb::emulator::GpuHandle;
using argb::emulator::I2cRecordV3;

constexpr std::uint8_t kVersionReply[8] = {0x81, 0x00, 0x00, 0x00, 0x66, 0x66, 0x66, 0x66};

std::int32_t initialize() {
  return 0;
}

std::int32_t enumPhysicalGpus(GpuHandle* handles, std::uint32_t* count) {
  static int gpu;
  handles[0] = &gpu;
  *count = 1;
  return 0;
}

std::int32_t i2cWriteEx(GpuHandle, I2cRecordV3*, std::uint32_t*) {
  return 0;
}

std::int32_t i2cReadEx(GpuHandle, I2cRecordV3* record, std::uint32_t*) {
  if (record->cbSize == sizeof kVersionReply) {
    std::memcpy(record->pbData, kVersionReply, sizeof kVersionReply);
  } else {
    std::memset(record->pbData, 0x01, record->cbSize);  // acknowledges every frame
  }
  return 0;
}

template <typename Function>
void* address(Function* function) {
  return reinterpret_cast<void*>(function);
}

}  // namespace

// Exported through PlantedDriver.def.
extern "C" void* nvapi_QueryInterface(std::uint32_t id) {
  namespace emu = argb::emulator;
  switch (id) {
    case emu::kIdInitialize:
      return address(&initialize);
    case emu::kIdEnumPhysicalGpus:
      return address(&enumPhysicalGpus);
    case emu::kIdI2cWriteEx:
      return address(&i2cWriteEx);
    case emu::kIdI2cReadEx:
      return address(&i2cReadEx);
    default:
      return nullptr;
  }
}
