#include <gtest/gtest.h>

#include <cstddef>
#include <deque>
#include <tuple>

#include "platform/ConsoleControlEvent.h"
#include "platform/ConsoleKeyPress.h"
#include "platform/ConsoleRestore.h"
#include "platform/ErrorTextConversion.h"

namespace argb::platform {
namespace {

TEST(WindowsConsoleRulesTest, AKeyTakesASecondCodeOnlyWhenItIsAlreadyThereAndIsNeverMadeUp) {
  constexpr int kFailedRead = 0x1000;  // _getch's -1 with the console read's error left behind
  struct Case {
    std::deque<int> waiting;  // the codes the console holds when the key is read
    int key;
    std::size_t reads;
    bool inputThere = true;
  };
  const Case cases[] = {{{0xE0, 0x48}, 0xE0, 2},
                        {{0x00, 0x3B}, 0x00, 2},
                        {{0xE0, 0x48, 'y'}, 0xE0, 2},
                        {{0xE0}, 0xE0, 1},  // 'à' in 1252, alone
                        {{'y', 0xE0, 0x48}, 'y', 1},
                        // From a C runtime that sign-extends: a cursor key, and 'ÿ' (not an end).
                        {{-32, 0x48}, 0xE0, 2},
                        {{-1, 'y'}, 0xFF, 1},
                        {{0xFF, 'y'}, 0xFF, 1},  // 'ÿ' from Windows' own
                        // No key: read again, up to an end, which also comes from a console gone.
                        {{kFailedRead, 'y'}, 'y', 2},
                        {{0x00}, Console::kInputEnded, 1 + kFailedReadsBeforeEnd},
                        {{kFailedRead, kFailedRead, kFailedRead, 'y'}, Console::kInputEnded, 3},
                        {{-1, 'y'}, Console::kInputEnded, 1, false}};
  for (const Case& c : cases) {
    std::deque<int> codes = c.waiting;
    std::size_t reads = 0;
    // A read with nothing there would wait for the next key press, here one that fails.
    const auto readCode = [&] {
      ++reads;
      const int code = codes.empty() ? kFailedRead : codes.front();
      if (!codes.empty()) codes.pop_front();
      return code == kFailedRead ? ConsoleRead{-1, 6} : ConsoleRead{code, 0};
    };
    const auto codeWaiting = [&codes] { return !codes.empty(); };
    const auto inputThere = [&c] { return c.inputThere; };
    EXPECT_EQ(readKeyPress(readCode, codeWaiting, inputThere), c.key);
    EXPECT_EQ(reads, c.reads) << "first code " << c.waiting.front();
  }
}

TEST(WindowsConsoleRulesTest, TheWritePhaseSwallowsTheInterruptKeysOnly) {
  // Ctrl+C and Ctrl+Break; not the window closed, logging off, shutting down.
  for (const std::uint32_t event : {0u, 1u}) EXPECT_TRUE(swallowedInWritePhase(event));
  for (const std::uint32_t event : {2u, 5u, 6u}) EXPECT_FALSE(swallowedInWritePhase(event));
}

TEST(WindowsConsoleRulesTest, TheInputModeGoesBackAsFoundOrToTheConsolesDefaults) {
  struct Case {
    std::uint32_t saved;
    ConsoleEditDefaults defaults;
    std::uint32_t restored;
    bool defaultsRead;
  };
  const Case cases[] = {
      // Reported with the extended-flags bit: back exactly, QuickEdit and Insert as they were.
      {0x1f7, {false, false}, 0x1f7, false},
      {0x0a7, {true, true}, 0x0a7, false},
      // Without it they read as off whatever they were: the defaults decide each one, and
      // AutoPosition (0x100) is on as in every new console.
      {0x007, {true, true}, 0x1e7, true},
      {0x007, {false, true}, 0x1a7, true},
      {0x007, {true, false}, 0x1c7, true},
      {0x017, {false, false}, 0x197, true}};
  for (const Case& c : cases) {
    bool read = false;
    const auto readDefaults = [&] {
      read = true;
      return c.defaults;
    };
    EXPECT_EQ(inputModeToRestore(c.saved, readDefaults), c.restored) << std::hex << c.saved;
    EXPECT_EQ(read, c.defaultsRead) << std::hex << c.saved;
  }
}

TEST(WindowsConsoleRulesTest, TheCloseItemGoesBackToTheStateItWasFoundIn) {
  // Enabled, greyed, disabled, both, and an answer with another bit; no item at all (-1).
  const std::int32_t cases[] = {0, 1, 2, 3, 9, -1};
  for (const std::int32_t found : cases) {
    std::int32_t state = found;
    const auto enableItem = [&state](std::uint32_t wanted) {
      const std::int32_t before = state;
      if (state != kMenuItemMissing) state = static_cast<std::int32_t>(wanted);
      return before;
    };
    CloseItemHold closeItem;
    closeItem.hold(enableItem);
    EXPECT_EQ(state, found == kMenuItemMissing ? found : 1) << found;  // greyed while held
    closeItem.release(enableItem);
    EXPECT_EQ(state, found == kMenuItemMissing ? found : (found & 3)) << found;
  }
}

TEST(WindowsConsoleRulesTest, TypedAheadKeysAreDroppedWhereTheKeyReadsTakeThem) {
  // Console input opened, standard input a console: the console's own input whenever it opened,
  // standard input redirected (a file) included.
  const std::tuple<bool, bool, TypedAheadInput> cases[] = {
      {true, true, TypedAheadInput::kConsoleInput},
      {true, false, TypedAheadInput::kConsoleInput},
      {false, true, TypedAheadInput::kStandardInput},
      {false, false, TypedAheadInput::kNone}};
  for (const auto& [opened, standardIsConsole, flushed] : cases) {
    EXPECT_EQ(typedAheadInput(opened, standardIsConsole), flushed) << opened << standardIsConsole;
  }
}

TEST(WindowsConsoleRulesTest, AnErrorsReasonTakesTheConsolesCodePageWithoutFlags) {
  // OEM pages beside other ANSI ones, UTF-8, and no console (0: the system's own page).
  for (const std::uint32_t page : {850u, 866u, 437u, 65001u, 0u}) {
    const TextConversion conversion = errorTextConversion(page);
    EXPECT_EQ(conversion.codePage, page);
    EXPECT_EQ(conversion.flags, 0u) << page;
  }
}

}  // namespace
}  // namespace argb::platform
