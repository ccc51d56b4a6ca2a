#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/DeviceState.h"
#include "emulator/LedController.h"

namespace argb::emulator {

enum class BadReadKind { Fail, Zero, AllOnes };
enum class HookOffer { Both, Begin, End, None };

// Everything the environment can ask of the emulator; the defaults are a healthy device and driver.
struct EmulatorConfig {
  FirmwareVersion version = kDefaultVersion;
  bool noController = false;
  std::uint32_t versionBadReads = 0;
  BadReadKind badReadKind = BadReadKind::Fail;
  std::int32_t initStatus = 0;
  std::int32_t enumStatus = 0;
  std::vector<std::uint32_t> missingIds;
  HookOffer hooks = HookOffer::Both;
  std::string tracePath;
  std::string statePath;
  std::vector<std::uint32_t> failWriteFrames;
  std::vector<std::uint32_t> noAckFrames;
  std::optional<std::uint32_t> powerLossAfterFrame;
  ControllerOptions controller;
};

struct ConfigResult {
  EmulatorConfig config;
  std::vector<std::string> errors;  // one text per variable that could not be used
};

// Looks up an environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Unset and empty variables keep their defaults; a malformed value is reported in `errors`.
ConfigResult parseConfig(const EnvironmentLookup& lookup);

}  // namespace argb::emulator
