#pragma once

#include <cstddef>
#include <cstdint>

namespace argb::emulator {

// The emulated driver's own view of its interface. It plays an independent driver, so it keeps its
// own copy of the record rather than the updater's: a layout mistake on either side shows up.

using GpuHandle = void*;
inline constexpr std::size_t kMaxPhysicalGpus = 64;

// I2C transaction record, version 3 (x86-64 layout, natural alignment).
struct I2cRecordV3 {
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

static_assert(offsetof(I2cRecordV3, version) == 0);
static_assert(offsetof(I2cRecordV3, displayMask) == 4);
static_assert(offsetof(I2cRecordV3, bIsDDCPort) == 8);
static_assert(offsetof(I2cRecordV3, i2cDevAddress) == 9);
static_assert(offsetof(I2cRecordV3, pbI2cRegAddress) == 16);
static_assert(offsetof(I2cRecordV3, regAddrSize) == 24);
static_assert(offsetof(I2cRecordV3, pbData) == 32);
static_assert(offsetof(I2cRecordV3, cbSize) == 40);
static_assert(offsetof(I2cRecordV3, i2cSpeed) == 44);
static_assert(offsetof(I2cRecordV3, i2cSpeedKhz) == 48);
static_assert(offsetof(I2cRecordV3, portId) == 52);
static_assert(offsetof(I2cRecordV3, bIsPortIdSet) == 56);
static_assert(sizeof(I2cRecordV3) == 64);

// Version 3 in the upper 16 bits, the record size in the lower 16.
inline constexpr std::uint32_t kRecordVersion3 =
    3u << 16 | static_cast<std::uint32_t>(sizeof(I2cRecordV3));
static_assert(kRecordVersion3 == 0x30040);
inline constexpr std::uint32_t kSpeedDeprecated = 0xFFFF;
inline constexpr std::uint32_t kSpeedCode10Khz = 2;
inline constexpr std::uint8_t kControllerPort = 1;

inline constexpr std::uint32_t kIdInitialize = 0x0150E828;
inline constexpr std::uint32_t kIdEnumPhysicalGpus = 0xE5AC921F;
inline constexpr std::uint32_t kIdI2cWriteEx = 0x283AC65A;
inline constexpr std::uint32_t kIdI2cReadEx = 0x4D7B0709;
inline constexpr std::uint32_t kIdCallBeginHook = 0x33C7358C;
inline constexpr std::uint32_t kIdCallEndHook = 0x593E8644;

// The emulated driver's statuses.
inline constexpr std::int32_t kStatusOk = 0;
inline constexpr std::int32_t kStatusNoDevice = -1;        // nothing answers at the address
inline constexpr std::int32_t kStatusNotInitialised = -4;  // no successful initialise before
inline constexpr std::int32_t kStatusMalformed = -5;       // a request a strict driver refuses
inline constexpr std::int32_t kStatusInjectedFault = -7;   // a failure the configuration asked for

}  // namespace argb::emulator
