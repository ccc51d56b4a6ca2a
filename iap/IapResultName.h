#pragma once

#include "iap/IapResult.h"

namespace argb::iap {

// The name the user sees for a result; "Unknow" for any value outside 0..6.
const char* iapResultName(IapResult result);

}  // namespace argb::iap
