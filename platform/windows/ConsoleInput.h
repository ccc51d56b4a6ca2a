#pragma once

namespace argb::platform {

// The console's input buffer, which _getch reads whatever standard input is (redirected or not),
// held open for as long as the object lives.
class ConsoleInput {
 public:
  ConsoleInput();
  ~ConsoleInput();

  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // Null where the process has no console.
  void* handle() const { return handle_; }

 private:
  void* handle_ = nullptr;
};

}  // namespace argb::platform
