#include "platform/linux/LinuxWritePhaseGuard.h"

#include <array>
#include <csignal>

namespace argb::platform {
namespace {

constexpr std::array kTerminalSignals = {SIGINT, SIGQUIT, SIGTSTP, SIGHUP, SIGPIPE};

}  // namespace

void LinuxWritePhaseGuard::enterWritePhase() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int signal : kTerminalSignals) ::sigaction(signal, &ignore, nullptr);
}

}  // namespace argb::platform
