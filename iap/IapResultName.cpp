#include "iap/IapResultName.h"

#include <array>
#include <cstddef>

namespace argb::iap {

namespace {

constexpr std::array<const char*, 7> kNames = {
    "IAP_OK",
    "IAP_TIMEOUT",
    "IAP_FAIL",
    "IAP_CMDERROR",
    "IAP_RETERROR",
    "IAP_INTERFACE_ERROR",
    "IAP_CAN_NOT_FIND_AP_FILE",
};

// The misspelling is the text users and scripts have always seen.
constexpr const char* kUnknownName = "Unknow";

}  // namespace

const char* iapResultName(IapResult result) {
  if (result < 0 || static_cast<std::size_t>(result) >= kNames.size()) {
    return kUnknownName;
  }
  return kNames[static_cast<std::size_t>(result)];
}

}  // namespace argb::iap
