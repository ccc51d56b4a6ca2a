#include <gtest/gtest.h>

#include <cstdint>

#include "platform/LibrarySearch.h"

namespace argb::platform {
namespace {

int defaultDirectoriesCalls = 0;
std::uint32_t defaultDirectoriesFlags = 0;
int setDefaultDirectoriesSucceeds(std::uint32_t flags) {
  ++defaultDirectoriesCalls;
  defaultDirectoriesFlags = flags;
  return 1;
}
int setDefaultDirectoriesFails(std::uint32_t flags) {
  defaultDirectoriesFlags = flags;
  return 0;
}

TEST(LibrarySearchTest, TheCurrentDirectoryGoesWhateverTheSystemDirectoryCallDoes) {
  using SetDefault = int(std::uint32_t);
  struct Case {
    SetDefault* setDefault;  // null: Windows 7 without the update that adds it
    int removeAnswer;
    LibrarySearchSetting expected;
  };
  const Case cases[] = {{setDefaultDirectoriesSucceeds, 1, {true, true}},
                        {setDefaultDirectoriesFails, 1, {false, true}},
                        {nullptr, 1, {false, true}},
                        {setDefaultDirectoriesSucceeds, 0, {true, false}}};
  for (const Case& c : cases) {
    defaultDirectoriesFlags = 0;
    int removeCalls = 0;
    const LibrarySearchSetting setting = restrictLibrarySearch(c.setDefault, [&] {
      ++removeCalls;
      return c.removeAnswer;
    });
    EXPECT_EQ(setting.systemDirectoryOnly, c.expected.systemDirectoryOnly);
    EXPECT_EQ(setting.currentDirectoryRemoved, c.expected.currentDirectoryRemoved);
    EXPECT_EQ(removeCalls, 1);
    if (c.setDefault != nullptr) {
      EXPECT_EQ(defaultDirectoriesFlags, 0x800u);  // system32 only
    }
  }
  EXPECT_EQ(defaultDirectoriesCalls, 2);
}

}  // namespace
}  // namespace argb::platform
