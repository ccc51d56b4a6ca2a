#pragma once

#include "platform/Console.h"

namespace argb::app {

inline constexpr char kClosingPrompt[] = "\nPress anykey to close the update.";

// The closing prompt: shown, then one key whose value does not matter.
inline void closingPrompt(platform::Console& console) {
  console.writeStream(kClosingPrompt);
  console.writeStreamLineEnd();
  console.readKey();
}

}  // namespace argb::app
