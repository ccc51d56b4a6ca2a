#include "platform/linux/EscapeSequences.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace argb::platform {
namespace {

constexpr int kExtended = 0xE0;
constexpr int kFunction = 0x00;

struct Key {
  std::string_view afterEscape;
  int prefix;
  int scanCode;
};

// Every sequence a terminal sends for a key the Windows console gives two codes for, with those
// codes (the console's prefix and scan code).
constexpr Key kKeys[] = {
    {"[A", kExtended, 0x48},   {"OA", kExtended, 0x48},   {"[B", kExtended, 0x50},
    {"OB", kExtended, 0x50},   {"[C", kExtended, 0x4D},   {"OC", kExtended, 0x4D},
    {"[D", kExtended, 0x4B},   {"OD", kExtended, 0x4B},   {"[H", kExtended, 0x47},
    {"[1~", kExtended, 0x47},  {"OH", kExtended, 0x47},   {"[F", kExtended, 0x4F},
    {"[4~", kExtended, 0x4F},  {"OF", kExtended, 0x4F},   {"[2~", kExtended, 0x52},
    {"[3~", kExtended, 0x53},  {"[5~", kExtended, 0x49},  {"[6~", kExtended, 0x51},
    {"[23~", kExtended, 0x85}, {"[24~", kExtended, 0x86}, {"OP", kFunction, 0x3B},
    {"[11~", kFunction, 0x3B}, {"[[A", kFunction, 0x3B},  {"OQ", kFunction, 0x3C},
    {"[12~", kFunction, 0x3C}, {"[[B", kFunction, 0x3C},  {"OR", kFunction, 0x3D},
    {"[13~", kFunction, 0x3D}, {"[[C", kFunction, 0x3D},  {"OS", kFunction, 0x3E},
    {"[14~", kFunction, 0x3E}, {"[[D", kFunction, 0x3E},  {"[15~", kFunction, 0x3F},
    {"[[E", kFunction, 0x3F},  {"[17~", kFunction, 0x40}, {"[18~", kFunction, 0x41},
    {"[19~", kFunction, 0x42}, {"[20~", kFunction, 0x43}, {"[21~", kFunction, 0x44},
};

TEST(EscapeSequencesTest, EveryKeySequenceIsCompleteOnlyWhenWholeAndGivesItsKeysCodes) {
  for (const Key& key : kKeys) {
    SCOPED_TRACE(std::string(key.afterEscape));
    // Complete too early, the console would leave the rest to be read as further keys.
    for (std::size_t length = 0; length < key.afterEscape.size(); ++length) {
      EXPECT_FALSE(isCompleteEscapeSequence(key.afterEscape.substr(0, length))) << length;
    }
    EXPECT_TRUE(isCompleteEscapeSequence(key.afterEscape));
    const auto codes = consoleKeyCodes(key.afterEscape);
    ASSERT_TRUE(codes.has_value());
    EXPECT_EQ(codes->prefix, key.prefix);
    EXPECT_EQ(codes->scanCode, key.scanCode);
  }
}

}  // namespace
}  // namespace argb::platform
