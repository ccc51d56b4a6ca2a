#include "platform/linux/RawTerminalMode.h"

#include <termios.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <mutex>

namespace argb::platform {
namespace {

constexpr int kNoTerminal = -1;
constexpr std::array kEndingSignals = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Shared with the signal handler, so kept in plain globals; the atomic is lock-free and so safe
// to use there.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> rawTerminal{kNoTerminal};
termios savedSettings{};
std::array<struct sigaction, kEndingSignals.size()> previousActions{};
std::array<bool, kEndingSignals.size()> handlerInstalled{};
std::once_flag exitHookOnce;

void restoreTerminal() {
  const int fd = rawTerminal.exchange(kNoTerminal);
  if (fd != kNoTerminal) ::tcsetattr(fd, TCSANOW, &savedSettings);
}

void restorePreviousActions() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (handlerInstalled[i]) ::sigaction(kEndingSignals[i], &previousActions[i], nullptr);
    handlerInstalled[i] = false;
  }
}

// Restores the terminal, then lets the signal take the course it would have taken without us.
void restoreAndRedeliver(int signal) {
  restoreTerminal();
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (kEndingSignals[i] == signal && handlerInstalled[i]) {
      ::sigaction(signal, &previousActions[i], nullptr);
      handlerInstalled[i] = false;
    }
  }
  std::raise(signal);
}

void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = restoreAndRedeliver;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (::sigaction(kEndingSignals[i], nullptr, &previousActions[i]) != 0) continue;
    // An ignored signal does not end the process, so there is nothing to restore for it; and
    // our own handler must never become the one it hands the signal on to.
    const auto previous = previousActions[i].sa_handler;
    if (previous == SIG_IGN || previous == restoreAndRedeliver) continue;
    handlerInstalled[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
}

termios rawSettings(termios settings) {
  settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  // Enter arrives as CR (13) as on the Windows console; no flow-control keys, all 8 bits.
  settings.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return settings;
}

}  // namespace

RawTerminalMode::RawTerminalMode(int fd) {
  termios current{};
  if (::tcgetattr(fd, &current) != 0) return;
  std::call_once(exitHookOnce, [] { std::atexit(restoreTerminal); });
  // Registered before the switch, so that an ending at any moment finds what to restore.
  savedSettings = current;
  rawTerminal.store(fd);
  installSignalHandlers();
  const termios raw = rawSettings(current);
  active_ = ::tcsetattr(fd, TCSANOW, &raw) == 0;
  if (!active_) {
    rawTerminal.store(kNoTerminal);
    restorePreviousActions();
  }
}

RawTerminalMode::~RawTerminalMode() {
  if (!active_) return;
  restoreTerminal();
  restorePreviousActions();
}

}  // namespace argb::platform
