#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

// The driver as the updater meets it: loaded by the trusted loading under the search setting of
// main, initialised and asked for its GPUs through the updater's driver front. Nothing more is
// called or resolved: no I2C function.
struct DriverFacts {
  // The system directory has the driver's library at all.
  bool inSystemDirectory = false;
  // The front's status of the initialise, and the thread's last error right after it.
  std::int32_t initStatus = 0;
  std::uint32_t initError = 0;
  // The enumeration, made only after a successful initialise.
  std::optional<std::int32_t> enumStatus;
  std::uint32_t gpuCount = 0;
  // Libraries that came with the driver from outside the system directory.
  std::vector<std::string> loadedOutside;
  // The Windows error as the system words it (empty for none).
  std::string initErrorText;
};
CheckResult judgeDriver(const DriverFacts& facts);

// The modules in `after` and not in `before` whose path is not in `systemDirectory` itself (a
// subfolder such as the driver store is outside: the restricted search does not look there); paths
// compare without regard to case, as Windows compares them.
std::vector<std::string> modulesAddedOutside(const std::vector<std::string>& before,
                                             const std::vector<std::string>& after,
                                             std::string_view systemDirectory);

}  // namespace argb::fieldcheck
