#include <gtest/gtest.h>

#include <cstddef>
#include <deque>

#include "platform/ConsoleControlEvent.h"
#include "platform/ConsoleKeyPress.h"

namespace argb::platform {
namespace {

TEST(WindowsConsoleRulesTest, AKeyTakesASecondCodeOnlyWhenItIsAlreadyThere) {
  struct Case {
    std::deque<int> waiting;  // the codes the console holds when the key is read
    int key;
    std::size_t reads;
  };
  const Case cases[] = {{{0xE0, 0x48}, 0xE0, 2},
                        {{0x00, 0x3B}, 0x00, 2},
                        {{0xE0, 0x48, 'y'}, 0xE0, 2},
                        {{0xE0}, 0xE0, 1},  // 'à' in 1252, alone
                        {{'y', 0xE0, 0x48}, 'y', 1}};
  for (const Case& c : cases) {
    std::deque<int> codes = c.waiting;
    std::size_t reads = 0;
    // A read with nothing there would wait for the next key press.
    const auto readCode = [&] {
      ++reads;
      const int code = codes.empty() ? -1 : codes.front();
      if (!codes.empty()) codes.pop_front();
      return code;
    };
    EXPECT_EQ(readKeyPress(readCode, [&codes] { return !codes.empty(); }), c.key);
    EXPECT_EQ(reads, c.reads) << "first code " << c.waiting.front();
  }
}

TEST(WindowsConsoleRulesTest, TheWritePhaseSwallowsTheInterruptKeysOnly) {
  // Ctrl+C and Ctrl+Break; not the window closed, logging off, shutting down.
  for (const std::uint32_t event : {0u, 1u}) EXPECT_TRUE(swallowedInWritePhase(event));
  for (const std::uint32_t event : {2u, 5u, 6u}) EXPECT_FALSE(swallowedInWritePhase(event));
}

}  // namespace
}  // namespace argb::platform
