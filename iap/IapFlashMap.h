#pragma once

#include <cstdint>

namespace argb::iap {

// The controller's flash as the loader sees it; ranges are start and inclusive end.

// Where the application image is linked and programmed; the erase clears up to the flash end.
inline constexpr std::uint32_t kApplicationStart = 0x1800;
inline constexpr std::uint32_t kApplicationEnd = 0xFFFF;

// The information block sits in vector words 8 and 9, which the image leaves erased (0xFF), so
// programming the image afterwards leaves the block's bits as written.
inline constexpr std::uint32_t kInformationBlockStart = 0x1820;
inline constexpr std::uint32_t kInformationBlockEnd = 0x1827;

// The image CRC skips the first 40 bytes, the information block's own place included.
inline constexpr std::uint32_t kCrcStartOffset = 40;
inline constexpr std::uint32_t kCrcStart = kApplicationStart + kCrcStartOffset;

}  // namespace argb::iap
