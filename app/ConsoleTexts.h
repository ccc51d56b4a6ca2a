#pragma once

#include "platform/Console.h"

namespace argb::app {

inline constexpr char kClosingPrompt[] = "\nPress anykey to close the update.";

// The closing prompt: shown, then one key whose value does not matter. Keys typed before it is on
// screen must not close the window before its last texts have been read.
inline void closingPrompt(platform::Console& console) {
  console.discardTypedAhead();
  console.writeStream(kClosingPrompt);
  console.writeStreamLineEnd();
  console.readKey();
}

// The end of a run that stops without the closing prompt: a console window that closes with the
// program would take the last message with it, so there the prompt is given after all.
inline void keepEndingReadable(platform::Console& console) {
  if (console.closesWithProgram()) closingPrompt(console);
}

}  // namespace argb::app
