#pragma once

#include <string>
#include <vector>

#include "emulator/DeviceState.h"

namespace argb::tools {

// What a person wants to know about a saved device: what runs, its version, and whether the image
// area would start at power-on.
std::vector<std::string> describeState(const emulator::DeviceState& state);

}  // namespace argb::tools
