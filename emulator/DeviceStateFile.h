#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulator/DeviceState.h"

namespace argb::emulator {

// The state file: a 20-byte header, then the 65,536 flash bytes.
//   0  8  magic "ARGBEMU" and a zero byte
//   8  4  format version, little-endian, 1
//  12  1  mode: 0 application, 1 loader (what ran when it was saved)
//  13  4  version bytes the application reports
//  17  3  zero
//  20     flash, address 0 first
inline constexpr std::size_t kStateFileHeaderLength = 20;
inline constexpr std::size_t kStateFileLength = kStateFileHeaderLength + kFlashSize;

std::vector<std::uint8_t> encodeDeviceState(const DeviceState& state);
std::optional<DeviceState> decodeDeviceState(std::span<const std::uint8_t> bytes);

struct StateFileLoad {
  std::optional<DeviceState> state;  // absent with an empty error: there is no such file
  std::string error;
};

// The reader itself, on the file's bytes; `name` is what a refusal calls the file.
StateFileLoad readDeviceState(std::span<const std::uint8_t> bytes, const std::string& name);
StateFileLoad loadDeviceState(const std::string& path);

// Writes a temporary file beside `path` and renames it over `path`, so that a process killed while
// saving leaves either the old state or the new one. Returns an error text, empty on success.
std::string saveDeviceState(const std::string& path, const DeviceState& state);

}  // namespace argb::emulator
