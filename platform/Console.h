#pragma once

#include <string_view>

namespace argb::platform {

// The console as the updater uses it: formatted writes (printf) and stream writes (std::cout) to
// the one standard output, kept in program order, and single-key reads (_getch).
class Console {
 public:
  virtual ~Console() = default;

  // An already formatted text written the way printf writes it.
  virtual void writeFormatted(std::string_view text) = 0;
  // A text or character written the way a stream insertion writes it.
  virtual void writeStream(std::string_view text) = 0;
  // std::endl: a line end, then a flush.
  virtual void writeStreamLineEnd() = 0;

  // One key without echo and without Enter. A key that sends two codes (0x00 or 0xE0 first)
  // yields its first code, and its second is taken with it, so one key press answers one read.
  // kInputEnded when no key can be read any more (input at its end, a terminal that is gone).
  virtual int readKey() = 0;
  static constexpr int kInputEnded = -1;

  // Drops the keys typed before now, so that only a key pressed once a question is on screen
  // answers it. The keys are the console's (Windows reads them from the console even when standard
  // input is redirected); on Linux, input that is not a terminal is a script whose every byte is a
  // key, and nothing of it is dropped.
  virtual void discardTypedAhead() = 0;

  // True when standard output is a console or terminal, not a file or pipe.
  virtual bool outputIsInteractive() = 0;

  // True when the console window closes with the program (it is the only process attached, as
  // when started from Explorer), so that a last message would vanish unread.
  virtual bool closesWithProgram() = 0;
};

}  // namespace argb::platform
