#include "iap/Crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace argb::iap {
namespace {

std::uint16_t crcOf(std::string_view text) {
  return crc16(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(Crc16, MatchesXmodemCheckValues) {
  EXPECT_EQ(crcOf("123456789"), 0x31C3);
  EXPECT_EQ(crcOf("abc"), 0x9DD6);
  EXPECT_EQ(crc16(nullptr, 0), 0x0000);
  const std::vector<std::uint8_t> zeros(128, 0x00);
  EXPECT_EQ(crc16(zeros.data(), zeros.size()), 0x0000);
  const std::vector<std::uint8_t> erased(128, 0xFF);
  EXPECT_EQ(crc16(erased.data(), erased.size()), 0xEDA9);
}

}  // namespace
}  // namespace argb::iap
