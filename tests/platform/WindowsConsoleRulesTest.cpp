#include "platform/ConsoleControlEvent.h"
#include "platform/ConsoleKeyPress.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <deque>

namespace argb::platform {
namespace {

struct Case {
  const char* what;
  std::deque<int> waiting;  // the codes the console holds when the key is read
  int key;
  std::size_t left;  // codes left for the next read
};

TEST(ConsoleKeyPressTest, TakesASecondCodeOnlyWhenItIsAlreadyThere) {
  const Case cases[] = {
      {"cursor up", {0xE0, 0x48}, 0xE0, 0},
      {"F1", {0x00, 0x3B}, 0x00, 0},
      {"cursor up, then y typed ahead", {0xE0, 0x48, 'y'}, 0xE0, 1},
      {"a character coded 0xE0 alone", {0xE0}, 0xE0, 0},
      {"y, then a cursor key typed ahead", {'y', 0xE0, 0x48}, 'y', 2},
  };
  for (const Case& c : cases) {
    std::deque<int> codes = c.waiting;
    std::size_t reads = 0;
    // A read with nothing there would wait for the next key press.
    const auto readCode = [&] {
      ++reads;
      if (codes.empty()) return -1;
      const int code = codes.front();
      codes.pop_front();
      return code;
    };
    EXPECT_EQ(readKeyPress(readCode, [&codes] { return !codes.empty(); }), c.key) << c.what;
    EXPECT_EQ(reads, c.waiting.size() - c.left) << c.what;
  }
}

TEST(ConsoleControlEventTest, TheWritePhaseSwallowsTheInterruptKeysOnly) {
  EXPECT_TRUE(swallowedInWritePhase(0));   // Ctrl+C
  EXPECT_TRUE(swallowedInWritePhase(1));   // Ctrl+Break
  EXPECT_FALSE(swallowedInWritePhase(2));  // the window closed: refusing it would not help
  EXPECT_FALSE(swallowedInWritePhase(5));  // logging off
  EXPECT_FALSE(swallowedInWritePhase(6));  // shutting down
}

}  // namespace
}  // namespace argb::platform
