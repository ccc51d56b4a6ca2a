// The emulator's ARGB_EMU_* settings. The input's NUL-separated pieces are the values of the
// variables in the order below. A bad value gets an error that names its variable, and what the
// emulator made of the values, written out as settings again, reads back the same.

#include <array>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "emulator/EmulatorConfig.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

using namespace argb::emulator;
// Keyed by views of the names, to keep string comparisons out of the fuzz loop's time.
using Settings = std::unordered_map<std::string_view, std::string>;

// The variables the input's pieces go to, in this order.
const std::vector<std::string> kNames = [] {
  std::vector<std::string> names;
  std::istringstream list(
      "VERSION IMAGE_VERSION NO_CONTROLLER VERSION_BAD_READS VERSION_BAD_READ_KIND INIT_STATUS "
      "ENUM_STATUS MISSING_IDS HOOKS TRACE STATE ERASE_MS PROGRAM_MS FAIL_WRITE_FRAMES "
      "NO_ACK_FRAMES ACK_AFTER_POLLS SILENT_LOADER FLIP_BIT POWER_LOSS_AFTER_FRAME");
  for (std::string name; list >> name;) names.push_back("ARGB_EMU_" + name);
  return names;
}();

ConfigResult parse(const Settings& settings) {
  return parseConfig([&settings](const char* name) -> std::optional<std::string> {
    const auto found = settings.find(name);
    if (found == settings.end()) return std::nullopt;
    return found->second;
  });
}

std::string listText(const std::vector<std::uint32_t>& items) {
  std::string text;
  for (const std::uint32_t item : items) text += (text.empty() ? "" : ",") + std::to_string(item);
  return text;
}

// The settings that give the same configuration; equal settings mean equal configurations.
Settings settingsOf(const EmulatorConfig& config) {
  static constexpr std::array kKinds = {"fail", "00", "ff"};
  static constexpr std::array kHooks = {"both", "begin", "end", "none"};
  const ControllerOptions& device = config.controller;
  Settings settings = {
      {"ARGB_EMU_VERSION", formatVersion(config.version)},
      {"ARGB_EMU_IMAGE_VERSION", formatVersion(device.imageVersion)},
      {"ARGB_EMU_NO_CONTROLLER", config.noController ? "1" : "0"},
      {"ARGB_EMU_VERSION_BAD_READS", std::to_string(config.versionBadReads)},
      {"ARGB_EMU_VERSION_BAD_READ_KIND", kKinds[static_cast<std::size_t>(config.badReadKind)]},
      {"ARGB_EMU_INIT_STATUS", std::to_string(config.initStatus)},
      {"ARGB_EMU_ENUM_STATUS", std::to_string(config.enumStatus)},
      {"ARGB_EMU_MISSING_IDS", listText(config.missingIds)},
      {"ARGB_EMU_HOOKS", kHooks[static_cast<std::size_t>(config.hooks)]},
      {"ARGB_EMU_TRACE", config.tracePath},
      {"ARGB_EMU_STATE", config.statePath},
      {"ARGB_EMU_FAIL_WRITE_FRAMES", listText(config.failWriteFrames)},
      {"ARGB_EMU_NO_ACK_FRAMES", listText(config.noAckFrames)},
      {"ARGB_EMU_ACK_AFTER_POLLS", std::to_string(device.ackAfterPolls)},
      {"ARGB_EMU_SILENT_LOADER", device.silentLoader ? "1" : "0"}};
  if (config.powerLossAfterFrame) {
    settings["ARGB_EMU_POWER_LOSS_AFTER_FRAME"] = std::to_string(*config.powerLossAfterFrame);
  }
  return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using argb::fuzz::require;
  Settings settings;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (std::size_t i = 0; i < kNames.size() && !rest.empty(); ++i) {
    const std::size_t end = std::min(rest.find('\0'), rest.size());
    settings[kNames[i]] = std::string(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  const ConfigResult result = parse(settings);
  std::unordered_map<std::string_view, int> errorsPerName;
  for (const std::string& error : result.errors) {
    const std::string_view name = std::string_view(error).substr(0, error.find("='"));
    const auto given = settings.find(name);
    require(given != settings.end() && !given->second.empty() &&
                error.starts_with(std::string(name) + "='" + given->second + "': expected "),
            "an error names the variable, its value and what was expected");
    require(++errorsPerName[name] == 1, "one error per variable");
  }
  const Settings written = settingsOf(result.config);
  const ConfigResult again = parse(written);
  require(again.errors.empty() && settingsOf(again.config) == written,
          "the settings of a configuration read back to it");
  return 0;
}
