#pragma once

#include <cstdint>
#include <string>

namespace argb::platform {

// The system's own text for a Windows error code, on one line, with the code after it.
std::string errorText(std::uint32_t error);

}  // namespace argb::platform
