#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/linux/LinuxConsole.h"

namespace argb::platform {
namespace {

using namespace std::chrono_literals;

constexpr int kNoMoreKeys = -1;
constexpr int kEscape = 0x1B;
constexpr int kExtendedKeyPrefix = 0xE0;
constexpr int kFunctionKeyPrefix = 0x00;
// Only a fault waits this long: on a busy machine each state comes within milliseconds.
constexpr auto kPatience = 10s;

bool sameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), b.c_cc);
}

bool isRaw(int fd) {
  termios settings{};
  return ::tcgetattr(fd, &settings) == 0 && (settings.c_lflag & ICANON) == 0;
}

// Whether `done` holds within the test's patience, asked every millisecond.
template <typename Condition>
bool eventually(Condition done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void writeAll(int fd, std::string_view bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A pseudo-terminal: the console reads the slave side, the test types on the master side.
struct PseudoTerminal {
  PseudoTerminal() {
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
  }
  ~PseudoTerminal() {
    ::close(master);
    ::close(slave);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  int master = -1;
  int slave = -1;
};

class LinuxConsoleTerminalTest : public ::testing::Test {
 protected:
  LinuxConsoleTerminalTest() { ::tcgetattr(slave_, &initial_); }

  // One readKey while `typed` arrives once the terminal is raw (nothing is typed for a code that
  // should already be waiting). Never hangs: a read that does not return is unblocked and fails.
  int readKeyTyping(std::string_view typed) {
    auto key = std::async(std::launch::async, [this] { return console_.readKey(); });
    if (!typed.empty()) {
      EXPECT_TRUE(eventually([this] { return isRaw(slave_); }))
          << "the read did not put the terminal into raw mode";
      writeAll(master_, typed);
    }
    if (key.wait_for(kPatience) != std::future_status::ready) {
      ADD_FAILURE() << "readKey did not return";
      writeAll(master_, "\r\n?");
    }
    const int code = key.get();
    termios after{};
    ::tcgetattr(slave_, &after);
    EXPECT_TRUE(sameSettings(after, initial_)) << "terminal settings not restored after the read";
    return code;
  }

  // The next key read is exactly the next key typed: nothing of an earlier key is left over.
  void expectNothingLeftOver() { EXPECT_EQ(readKeyTyping("x"), 'x'); }

  PseudoTerminal terminal_;
  const int master_ = terminal_.master;
  const int slave_ = terminal_.slave;
  termios initial_{};
  LinuxConsole console_{slave_, stdout};
};

TEST_F(LinuxConsoleTerminalTest, KeysReadOneByOneWithoutEnterAndEnterReadsAsCarriageReturn) {
  EXPECT_EQ(readKeyTyping("y"), 'y');
  EXPECT_EQ(readKeyTyping("\r"), 13);
  EXPECT_EQ(readKeyTyping("\xE9"), 0xE9) << "a key above 127 is not negative";
  // Typed ahead in raw mode: the second key waits for the next read.
  EXPECT_EQ(readKeyTyping("nN"), 'n');
  EXPECT_EQ(readKeyTyping(""), 'N');
}

// One key press answers one read: the second of its two codes goes with it, so that an arrow key
// at a question cannot also answer the next one.
TEST_F(LinuxConsoleTerminalTest, CursorAndFunctionKeysReadAsTheFirstOfTheConsolesTwoCodes) {
  EXPECT_EQ(readKeyTyping("\x1B[A"), kExtendedKeyPrefix);
  expectNothingLeftOver();
  EXPECT_EQ(readKeyTyping("\x1B[3~"), kExtendedKeyPrefix);
  EXPECT_EQ(readKeyTyping("\x1B[[E"), kFunctionKeyPrefix);
  expectNothingLeftOver();
}

TEST_F(LinuxConsoleTerminalTest, KeysTypedAheadAreDroppedAndTheNextKeyIsKept) {
  // Typed between reads, when the terminal is in its line mode; the line end lets them be counted.
  writeAll(master_, "y\x1B[Bq\n");
  ASSERT_TRUE(eventually([this] {
    int waiting = 0;
    return ::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting == 6;
  }));
  console_.discardTypedAhead();
  EXPECT_EQ(readKeyTyping("n"), 'n');
  std::FILE* toTerminal = ::fdopen(::dup(slave_), "w");
  EXPECT_TRUE(LinuxConsole(-1, toTerminal).outputIsInteractive()) << "only the output decides";
  std::fclose(toTerminal);
}

TEST_F(LinuxConsoleTerminalTest, LoneEscapeAndUnknownSequencesReadAsEscapeAndAreConsumed) {
  // ESC alone, Ctrl+Up, Alt+Up.
  for (const std::string_view typed : {"\x1B", "\x1B[1;5A", "\x1B\x1B[A"}) {
    EXPECT_EQ(readKeyTyping(typed), kEscape) << typed.substr(1);
    expectNothingLeftOver();
  }
}

TEST_F(LinuxConsoleTerminalTest, SettingsAreRestoredWhenTheProcessIsTerminatedDuringARead) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LinuxConsole(slave_, stdout).readKey();
    ::_exit(0);
  }
  const bool raw = eventually([this] { return isRaw(slave_); });
  ::kill(child, raw ? SIGTERM : SIGKILL);
  int status = 0;
  const bool ended = eventually([&] { return ::waitpid(child, &status, WNOHANG) == child; });
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended) << "the signal did not end the process";
  ASSERT_TRUE(raw) << "the child's read did not put the terminal into raw mode";
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM) << "the signal still ends the process";
  termios after{};
  ::tcgetattr(slave_, &after);
  EXPECT_TRUE(sameSettings(after, initial_));
}

// A pipe standing in for redirected standard input or output.
struct Pipe {
  Pipe() {
    if (::pipe(ends) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    for (const int end : ends) ::close(end);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int ends[2] = {-1, -1};
  int& readEnd = ends[0];
  int& writeEnd = ends[1];
};

// A script's every byte is a key: dropping typed-ahead keys leaves them all.
TEST(LinuxConsolePipeTest, WithoutTerminalEachByteIsOneKeyAndEndOfInputIsMinusOne) {
  Pipe input;
  writeAll(input.writeEnd, "a\x1B[A\xFF\r");
  ::close(std::exchange(input.writeEnd, -1));
  LinuxConsole console(input.readEnd, stdout);
  console.discardTypedAhead();
  for (const int expected :
       std::initializer_list<int>{'a', kEscape, '[', 'A', 0xFF, 13, kNoMoreKeys, kNoMoreKeys}) {
    EXPECT_EQ(console.readKey(), expected);
  }
}

// Every text is readable at the far end of the pipe right after its write, in program order.
TEST(LinuxConsolePipeTest, EachTextIsOutAtItsWriteInProgramOrder) {
  Pipe output;
  ::fcntl(output.readEnd, F_SETFL, O_NONBLOCK);
  std::FILE* stream = ::fdopen(std::exchange(output.writeEnd, -1), "w");
  ASSERT_NE(stream, nullptr);
  PseudoTerminal input;
  LinuxConsole console(input.slave, stream);
  EXPECT_FALSE(console.outputIsInteractive());
  const auto drain = [&output] {
    std::string text(256, '\0');
    const ssize_t count = ::read(output.readEnd, text.data(), text.size());
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return text;
  };

  console.writeFormatted("Detected FW version");
  EXPECT_EQ(drain(), "Detected FW version");
  console.writeStream(".");
  EXPECT_EQ(drain(), ".");
  console.writeFormatted(":40.70.00.09\n");
  console.writeStream("Do you want to continue? (Y/N): \n");
  EXPECT_EQ(drain(), ":40.70.00.09\nDo you want to continue? (Y/N): \n");
  console.writeStream("Exiting...");
  console.writeStreamLineEnd();
  EXPECT_EQ(drain(), "Exiting...\n");
  std::fclose(stream);
}

// As with _getch, where Ctrl+C reads as 3: no key raises a signal or stops the output.
TEST_F(LinuxConsoleTerminalTest, SignalAndFlowControlKeysReadAsTheirCodes) {
  // Ctrl+C, Ctrl+\, Ctrl+Z, Ctrl+S, Ctrl+Q.
  for (const char key : {'\x03', '\x1C', '\x1A', '\x13', '\x11'}) {
    EXPECT_EQ(readKeyTyping(std::string_view(&key, 1)), key) << static_cast<int>(key);
  }
}

}  // namespace
}  // namespace argb::platform
