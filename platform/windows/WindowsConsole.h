#pragma once

#include "platform/Console.h"

namespace argb::platform {

// The C runtime's console: printf-style writes to stdout, stream writes to std::cout (kept in
// step with stdout by the default stdio synchronisation) and _getch for keys.
class WindowsConsole final : public Console {
 public:
  void writeFormatted(std::string_view text) override;
  void writeStream(std::string_view text) override;
  void writeStreamLineEnd() override;
  int readKey() override;
  void discardTypedAhead() override;
  bool outputIsInteractive() override;
  bool closesWithProgram() override;
};

}  // namespace argb::platform
