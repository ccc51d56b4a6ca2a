#include "iap/IapResultName.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace argb::iap {
namespace {

TEST(IapResultName, NamesEveryCodeAndFallsBackOutsideThem) {
  const std::pair<IapResult, std::string> names[] = {
      {0, "IAP_OK"},
      {1, "IAP_TIMEOUT"},
      {2, "IAP_FAIL"},
      {3, "IAP_CMDERROR"},
      {4, "IAP_RETERROR"},
      {5, "IAP_INTERFACE_ERROR"},
      {6, "IAP_CAN_NOT_FIND_AP_FILE"},
      {7, "Unknow"},
      {-1, "Unknow"},
  };
  for (const auto& [code, name] : names) EXPECT_EQ(iapResultName(code), name) << code;
}

}  // namespace
}  // namespace argb::iap
