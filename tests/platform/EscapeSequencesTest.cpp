#include "platform/linux/EscapeSequences.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace argb::platform {
namespace {

// A key with the two codes the Windows console gives for it, and what terminals send for it, ESC
// first: xterm in normal and application cursor mode, the Linux console, VT220 editing keys.
struct Key {
  int prefix, scanCode;
  std::initializer_list<std::string_view> sent;
};

const Key kKeys[] = {
    {0xE0, 0x48, {"\x1B[A", "\x1BOA"}},             // Up
    {0xE0, 0x4D, {"\x1B[C", "\x1BOC"}},             // Right
    {0xE0, 0x47, {"\x1B[H", "\x1BOH", "\x1B[1~"}},  // Home
    {0xE0, 0x4F, {"\x1B[F", "\x1BOF", "\x1B[4~"}},  // End
    {0xE0, 0x52, {"\x1B[2~"}},                      // Insert
    {0xE0, 0x53, {"\x1B[3~"}},                      // Delete
    {0xE0, 0x49, {"\x1B[5~"}},                      // Page Up
    {0xE0, 0x51, {"\x1B[6~"}},                      // Page Down
    {0x00, 0x3B, {"\x1BOP", "\x1B[[A"}},            // F1
    {0x00, 0x3D, {"\x1BOR", "\x1B[[C"}},            // F3
    {0x00, 0x3F, {"\x1B[15~", "\x1B[[E"}},          // F5
    {0x00, 0x44, {"\x1B[21~"}},                     // F10
    {0xE0, 0x85, {"\x1B[23~"}},                     // F11
    {0xE0, 0x86, {"\x1B[24~"}},                     // F12
};

TEST(EscapeSequencesTest, EveryKeySequenceIsCompleteOnlyWhenWholeAndGivesItsKeysCodes) {
  for (const Key& key : kKeys) {
    for (const std::string_view sent : key.sent) {
      const std::string_view afterEscape = sent.substr(1);
      SCOPED_TRACE(std::string(afterEscape));
      // Complete too early, the console would leave the rest to be read as further keys.
      for (std::size_t length = 0; length < afterEscape.size(); ++length) {
        EXPECT_FALSE(isCompleteEscapeSequence(afterEscape.substr(0, length))) << length;
      }
      EXPECT_TRUE(isCompleteEscapeSequence(afterEscape));
      const auto codes = consoleKeyCodes(afterEscape);
      ASSERT_TRUE(codes.has_value());
      EXPECT_EQ(codes->prefix, key.prefix);
      EXPECT_EQ(codes->scanCode, key.scanCode);
    }
  }
}

}  // namespace
}  // namespace argb::platform
