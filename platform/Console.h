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

  // One key without echo and without Enter. A key that sends two codes yields its first code
  // here and its second on the next read. -1 when no key can be read any more.
  virtual int readKey() = 0;
};

}  // namespace argb::platform
