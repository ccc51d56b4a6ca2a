#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "emulator/EmulatorConfig.h"

namespace argb::emulator::test {

// A file path in the test's build folder, unique to the running test and removed beforehand.
inline std::string scratchPath(const std::string& suffix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path path = std::filesystem::path(ARGB_EMU_TEST_DIR) /
                               (std::string(info->test_suite_name()) + "." + info->name() + suffix);
  std::filesystem::remove(path);
  return path.string();
}

// The configuration that these environment variables would give.
inline ConfigResult configFrom(const std::map<std::string, std::string>& environment) {
  return parseConfig([&](const char* name) -> std::optional<std::string> {
    auto it = environment.find(name);
    if (it == environment.end()) return std::nullopt;
    return it->second;
  });
}

}  // namespace argb::emulator::test
