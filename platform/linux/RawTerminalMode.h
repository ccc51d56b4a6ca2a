#pragma once

namespace argb::platform {

// Puts a terminal into raw mode (keys one by one, no echo, no signals from keys, Enter as CR) for
// the lifetime of the object and then restores its previous settings. The settings are restored
// also when the process ends meanwhile, by exit or by a hang-up, interrupt, quit or terminate
// signal. One object at a time per process.
class RawTerminalMode {
 public:
  // Does nothing when `fd` is not a terminal.
  explicit RawTerminalMode(int fd);
  ~RawTerminalMode();

  RawTerminalMode(const RawTerminalMode&) = delete;
  RawTerminalMode& operator=(const RawTerminalMode&) = delete;

 private:
  bool active_ = false;
};

}  // namespace argb::platform
