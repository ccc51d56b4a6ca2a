#include "iap/IapResultName.h"

#include <gtest/gtest.h>

#include <string>

namespace argb::iap {
namespace {

TEST(IapResultName, NamesEveryCodeAndFallsBackOutsideThem) {
  EXPECT_EQ(std::string(iapResultName(kIapOk)), "IAP_OK");
  EXPECT_EQ(std::string(iapResultName(kIapTimeout)), "IAP_TIMEOUT");
  EXPECT_EQ(std::string(iapResultName(kIapInterfaceError)), "IAP_INTERFACE_ERROR");
  EXPECT_EQ(std::string(iapResultName(kIapCanNotFindApFile)), "IAP_CAN_NOT_FIND_AP_FILE");
  EXPECT_EQ(std::string(iapResultName(7)), "Unknow");
  EXPECT_EQ(std::string(iapResultName(-1)), "Unknow");
}

}  // namespace
}  // namespace argb::iap
