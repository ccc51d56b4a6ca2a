# Turns the firmware image into constant bytes, after checking its layout rules. Pure CMake, so it
# runs on the build host of a cross build too:
#   cmake -DIMAGE=<file> -DOUTPUT_DIR=<dir> -P EmbedFirmwareImage.cmake
# Writes <dir>/FirmwareImageData.cpp and <dir>/app/firmware/FirmwareImageLength.h.

include("${CMAKE_CURRENT_LIST_DIR}/FirmwareImageRules.cmake")

if(NOT DEFINED IMAGE OR NOT DEFINED OUTPUT_DIR)
  message(FATAL_ERROR "usage: cmake -DIMAGE=<file> -DOUTPUT_DIR=<dir> -P EmbedFirmwareImage.cmake")
endif()

argb_read_firmware_image("${IMAGE}" hex length)
argb_check_firmware_hex("${IMAGE}" "${hex}" ${length})

# 16 bytes per line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
string(STRIP "${bytes}" bytes)

file(WRITE "${OUTPUT_DIR}/FirmwareImageData.cpp"
"// Generated from ${IMAGE} by EmbedFirmwareImage.cmake; do not edit.
#include \"app/firmware/FirmwareImage.h\"

namespace argb::app {

const std::uint8_t kFirmwareImage[kFirmwareImageLength] = {
    ${bytes}
};

}  // namespace argb::app
")

file(WRITE "${OUTPUT_DIR}/app/firmware/FirmwareImageLength.h"
"// Generated from ${IMAGE} by EmbedFirmwareImage.cmake; do not edit.
#pragma once

#include <cstdint>

namespace argb::app::detail {

inline constexpr std::uint32_t kEmbeddedImageLength = ${length};

}  // namespace argb::app::detail
")
