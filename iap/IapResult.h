#pragma once

#include <cstdint>

namespace argb::iap {

// Result of every IAP operation; 0 is success. Codes 2 to 4 are never produced, only named.
using IapResult = std::int32_t;

inline constexpr IapResult kIapOk = 0;
inline constexpr IapResult kIapTimeout = 1;
inline constexpr IapResult kIapFail = 2;
inline constexpr IapResult kIapCmdError = 3;
inline constexpr IapResult kIapRetError = 4;
inline constexpr IapResult kIapInterfaceError = 5;
inline constexpr IapResult kIapCanNotFindApFile = 6;

}  // namespace argb::iap
