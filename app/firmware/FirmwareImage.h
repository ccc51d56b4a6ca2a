#pragma once

#include <cstdint>

// Written by the build from the image file it was given (see CMakeLists.txt here).
#include "app/firmware/FirmwareImageLength.h"

namespace argb::app {

// The controller's application image, compiled in unchanged; image offset n goes to flash
// 0x1800 + n. The length is the size of the build input (10,272 bytes for the committed one).
inline constexpr std::uint32_t kFirmwareImageLength = detail::kEmbeddedImageLength;
extern const std::uint8_t kFirmwareImage[kFirmwareImageLength];

}  // namespace argb::app
