#include <gtest/gtest.h>

#include <cstdint>

#include "platform/LibrarySearch.h"

namespace argb::platform {
namespace {

std::uint32_t flagsAsked = 0;
int succeeds(std::uint32_t flags) {
  return static_cast<int>(flagsAsked = flags) != 0;
}
int fails(std::uint32_t flags) {
  flagsAsked = flags;
  return 0;
}

TEST(LibrarySearchTest, TheCurrentDirectoryGoesWhateverTheSystemDirectoryCallDoes) {
  // Null: Windows 7 without the update that adds SetDefaultDllDirectories.
  const struct {
    int (*setDefault)(std::uint32_t);
    int removed;
    bool systemOnly;
  } cases[] = {{succeeds, 1, true}, {fails, 1, false}, {nullptr, 1, false}, {succeeds, 0, true}};
  for (const auto& c : cases) {
    flagsAsked = 0;
    int removeCalls = 0;
    const LibrarySearchSetting setting = restrictLibrarySearch(c.setDefault, [&] {
      ++removeCalls;
      return c.removed;
    });
    EXPECT_EQ(setting.systemDirectoryOnly, c.systemOnly);
    EXPECT_EQ(setting.currentDirectoryRemoved, c.removed != 0);
    EXPECT_EQ(removeCalls, 1);
    EXPECT_EQ(flagsAsked, c.setDefault == nullptr ? 0u : 0x800u);  // the system directory only
  }
}

}  // namespace
}  // namespace argb::platform
