#pragma once

#include <cstdint>

namespace argb::platform {

// The Windows console's control events, as a control handler receives them.
inline constexpr std::uint32_t kCtrlCEvent = 0;
inline constexpr std::uint32_t kCtrlBreakEvent = 1;
inline constexpr std::uint32_t kCloseEvent = 2;
inline constexpr std::uint32_t kLogoffEvent = 5;
inline constexpr std::uint32_t kShutdownEvent = 6;

// What the write phase swallows: the interrupt keys. Closing the window, logging off and shutting
// down go on to the system's handling, which ends the process whatever a handler answers.
constexpr bool swallowedInWritePhase(std::uint32_t event) {
  return event == kCtrlCEvent || event == kCtrlBreakEvent;
}

}  // namespace argb::platform
