#pragma once

#include <cstddef>
#include <cstdint>

namespace argb::driver {

// Signed 32-bit status of every driver function; 0 is success.
using NvApiStatus = std::int32_t;
inline constexpr NvApiStatus kNvApiOk = 0;

// Opaque physical-GPU handle as the driver hands it out.
using GpuHandle = void*;
inline constexpr std::size_t kMaxPhysicalGpus = 64;

// Version word of the I2C record, version 3: the version in the upper 16 bits, the record size in
// the lower 16.
inline constexpr std::uint32_t kI2cInfoVersion3 = 0x30040;
inline constexpr std::uint32_t kI2cSpeedDeprecated = 0xFFFF;
// The driver's 10 kHz speed code.
inline constexpr std::uint32_t kI2cSpeedCode10Khz = 2;

// The driver's I2C transaction record, version 3. Both sides of the driver boundary lay it out
// like this (x86-64, natural alignment), so the offsets are a contract.
struct I2cInfo {
  std::uint32_t version;
  std::uint32_t displayMask;
  std::uint8_t bIsDDCPort;
  std::uint8_t i2cDevAddress;
  std::uint8_t* pbI2cRegAddress;
  std::uint32_t regAddrSize;
  std::uint8_t* pbData;
  std::uint32_t cbSize;
  std::uint32_t i2cSpeed;
  std::uint32_t i2cSpeedKhz;
  std::uint8_t portId;
  std::uint32_t bIsPortIdSet;
};

static_assert(offsetof(I2cInfo, version) == 0);
static_assert(offsetof(I2cInfo, displayMask) == 4);
static_assert(offsetof(I2cInfo, bIsDDCPort) == 8);
static_assert(offsetof(I2cInfo, i2cDevAddress) == 9);
static_assert(offsetof(I2cInfo, pbI2cRegAddress) == 16);
static_assert(offsetof(I2cInfo, regAddrSize) == 24);
static_assert(offsetof(I2cInfo, pbData) == 32);
static_assert(offsetof(I2cInfo, cbSize) == 40);
static_assert(offsetof(I2cInfo, i2cSpeed) == 44);
static_assert(offsetof(I2cInfo, i2cSpeedKhz) == 48);
static_assert(offsetof(I2cInfo, portId) == 52);
static_assert(offsetof(I2cInfo, bIsPortIdSet) == 56);
static_assert(sizeof(I2cInfo) == 64);

// Interface IDs that the driver's query entry answers.
inline constexpr std::uint32_t kIdInitialize = 0x0150E828;
inline constexpr std::uint32_t kIdEnumPhysicalGpus = 0xE5AC921F;
inline constexpr std::uint32_t kIdI2cWriteEx = 0x283AC65A;
inline constexpr std::uint32_t kIdI2cReadEx = 0x4D7B0709;
inline constexpr std::uint32_t kIdCallBeginHook = 0x33C7358C;
inline constexpr std::uint32_t kIdCallEndHook = 0x593E8644;

// Call shapes of the driver library.
extern "C" {
using QueryInterfaceFn = void* (*)(std::uint32_t id);
using InitializeFn = NvApiStatus (*)();
using EnumPhysicalGpusFn = NvApiStatus (*)(GpuHandle handles[kMaxPhysicalGpus],
                                           std::uint32_t* count);
using I2cTransferFn = NvApiStatus (*)(GpuHandle gpu, I2cInfo* info, std::uint32_t* unknown);
using CallBeginHookFn = void (*)(std::uint32_t id, std::uint64_t* cookie);
using CallEndHookFn = void (*)(std::uint32_t id, std::uint64_t cookie, NvApiStatus status);
}

inline constexpr char16_t kDriverLibraryName[] = u"nvapi64.dll";
inline constexpr char kQueryInterfaceExport[] = "nvapi_QueryInterface";

}  // namespace argb::driver
