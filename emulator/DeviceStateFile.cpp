#include "emulator/DeviceStateFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace argb::emulator {

namespace {

constexpr char kMagic[8] = {'A', 'R', 'G', 'B', 'E', 'M', 'U', '\0'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kFormatOffset = 8;
constexpr std::size_t kModeOffset = 12;
constexpr std::size_t kVersionOffset = 13;

}  // namespace

std::vector<std::uint8_t> encodeDeviceState(const DeviceState& state) {
  std::vector<std::uint8_t> bytes(kStateFileLength, 0);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[kFormatOffset + i] = static_cast<std::uint8_t>(kFormatVersion >> (8 * i));
  }
  bytes[kModeOffset] = static_cast<std::uint8_t>(state.mode);
  // Plain copies between pointers, which become one memmove whatever the build instruments.
  std::copy_n(state.version.data(), state.version.size(), bytes.data() + kVersionOffset);
  std::copy_n(state.flash.all().data(), kFlashSize, bytes.data() + kStateFileHeaderLength);
  return bytes;
}

std::optional<DeviceState> decodeDeviceState(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kStateFileLength || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return std::nullopt;
  }
  std::uint32_t format = 0;
  for (std::size_t i = 0; i < 4; ++i) format |= std::uint32_t{bytes[kFormatOffset + i]} << (8 * i);
  const std::uint8_t mode = bytes[kModeOffset];
  if (format != kFormatVersion || mode > static_cast<std::uint8_t>(Mode::Loader))
    return std::nullopt;
  DeviceState state;
  state.mode = static_cast<Mode>(mode);
  std::copy_n(bytes.begin() + kVersionOffset, state.version.size(), state.version.begin());
  std::copy_n(bytes.data() + kStateFileHeaderLength, kFlashSize, state.flash.all().data());
  return state;
}

StateFileLoad readDeviceState(std::span<const std::uint8_t> bytes, const std::string& name) {
  auto state = decodeDeviceState(bytes);
  if (!state) return {std::nullopt, "not a device state file: " + name};
  return {std::move(state), {}};
}

StateFileLoad loadDeviceState(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return {};
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (!in && !in.eof()) return {std::nullopt, "cannot read the state file " + path};
  return readDeviceState(bytes, path);
}

std::string saveDeviceState(const std::string& path, const DeviceState& state) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const auto bytes = encodeDeviceState(state);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) return "cannot write " + temporary;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    // Some runtimes refuse to rename over an existing file.
    std::filesystem::remove(path, error);
    std::filesystem::rename(temporary, path, error);
    if (error) return "cannot replace " + path + ": " + error.message();
  }
  return {};
}

}  // namespace argb::emulator
