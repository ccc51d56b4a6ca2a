#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emulator/FlashModel.h"

namespace argb::emulator {

enum class Mode : std::uint8_t { Application = 0, Loader = 1 };

using FirmwareVersion = std::array<std::uint8_t, 4>;

inline constexpr FirmwareVersion kDefaultVersion{0x40, 0x70, 0x00, 0x05};
inline constexpr FirmwareVersion kDefaultImageVersion{0x40, 0x70, 0x00, 0x09};

// What survives a power cycle (flash, and the version its application reports) plus what runs now.
struct DeviceState {
  Mode mode = Mode::Application;
  FirmwareVersion version = kDefaultVersion;
  FlashModel flash;

  // A device fresh from the factory: running an old, valid application that reports `version`.
  static DeviceState factoryNew(FirmwareVersion version);

  // At power-on the boot code starts the application when the image area is valid and stays in
  // the loader when it is not.
  void powerOn();

  bool operator==(const DeviceState&) const = default;
};

std::string_view modeName(Mode mode);
std::optional<Mode> parseMode(std::string_view text);

// "40.70.00.05": four dot-separated hex bytes.
std::string formatVersion(const FirmwareVersion& version);
std::optional<FirmwareVersion> parseVersion(std::string_view text);

}  // namespace argb::emulator
