#pragma once

namespace argb::app {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitInvalidAnswer = 1;
inline constexpr int kExitFailure = -1;

}  // namespace argb::app
