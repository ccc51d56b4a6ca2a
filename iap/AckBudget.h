#pragma once

#include <cstdint>

namespace argb::iap {

// Unacknowledged polls allowed per frame, less two: a silent loader costs ackBudget + 2 polls and
// as many 1 ms pauses. Each operation copies it when it starts.
inline constexpr std::uint32_t ackBudget = 3000;

}  // namespace argb::iap
