#pragma once

#include <cstdint>

namespace argb::platform {

// Windows delivers a window's messages, the system's questions among them, only on the thread
// that made it and only while that thread looks at its message queue. While the write phase keeps
// a window open, every wait of the thread therefore serves the queue as well; before and after,
// the waits are the plain ones.

// A window of this thread opens or closes.
void windowToServeOpened();
void windowToServeClosed();

// WaitForSingleObject, with its answer; serves the messages meanwhile and goes on waiting for the
// object or the time limit, whichever comes first.
std::uint32_t waitServingWindows(void* object, std::uint32_t milliseconds);
// Sleep; serves the messages meanwhile and goes on until the time has passed.
void sleepServingWindows(std::uint32_t milliseconds);

}  // namespace argb::platform
