#include "emulator/EmulatorConfig.h"

#include <limits>

#include "emulator/Hex.h"

namespace argb::emulator {

namespace {

constexpr std::int64_t kU32Max = std::numeric_limits<std::uint32_t>::max();
constexpr std::int64_t kI32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kI32Max = std::numeric_limits<std::int32_t>::max();

// Reads one variable at a time and collects what it could not use.
class Reader {
 public:
  Reader(const EnvironmentLookup& lookup, std::vector<std::string>& errors)
      : lookup_(lookup), errors_(errors) {}

  // The value, or nullopt when it is unset or empty.
  std::optional<std::string> text(const char* name) {
    auto value = lookup_(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
  }

  void fail(const char* name, const std::string& value, const char* expected) {
    errors_.push_back(std::string(name) + "='" + value + "': expected " + expected);
  }

  std::optional<std::int64_t> number(const char* name, std::int64_t min, std::int64_t max) {
    auto value = text(name);
    if (!value) return std::nullopt;
    auto parsed = parseNumber(*value);
    if (!parsed || *parsed < min || *parsed > max) {
      fail(name, *value, "a number in range");
      return std::nullopt;
    }
    return parsed;
  }

  template <typename T>
  void read(const char* name, T& target, std::int64_t min, std::int64_t max) {
    if (auto value = number(name, min, max)) target = static_cast<T>(*value);
  }

  void flag(const char* name, bool& target) {
    auto value = text(name);
    if (!value) return;
    if (*value == "1") {
      target = true;
    } else if (*value == "0") {
      target = false;
    } else {
      fail(name, *value, "0 or 1");
    }
  }

  void list(const char* name, std::vector<std::uint32_t>& target) {
    auto value = text(name);
    if (!value) return;
    std::string_view rest = *value;
    while (true) {
      std::size_t comma = rest.find(',');
      auto item = parseNumber(rest.substr(0, comma));
      if (!item || *item < 0 || *item > kU32Max) {
        fail(name, *value, "a comma-separated list of numbers");
        target.clear();
        return;
      }
      target.push_back(static_cast<std::uint32_t>(*item));
      if (comma == std::string_view::npos) return;
      rest.remove_prefix(comma + 1);
    }
  }

  void version(const char* name, FirmwareVersion& target) {
    auto value = text(name);
    if (!value) return;
    if (auto parsed = parseVersion(*value)) {
      target = *parsed;
    } else {
      fail(name, *value, "four dot-separated hex bytes such as 40.70.00.05");
    }
  }

 private:
  const EnvironmentLookup& lookup_;
  std::vector<std::string>& errors_;
};

void readBadReadKind(Reader& reader, BadReadKind& kind) {
  const char* name = "ARGB_EMU_VERSION_BAD_READ_KIND";
  auto value = reader.text(name);
  if (!value) return;
  if (*value == "fail") {
    kind = BadReadKind::Fail;
  } else if (*value == "00") {
    kind = BadReadKind::Zero;
  } else if (*value == "ff" || *value == "FF") {
    kind = BadReadKind::AllOnes;
  } else {
    reader.fail(name, *value, "fail, 00 or ff");
  }
}

void readHooks(Reader& reader, HookOffer& hooks) {
  const char* name = "ARGB_EMU_HOOKS";
  auto value = reader.text(name);
  if (!value) return;
  if (*value == "both") {
    hooks = HookOffer::Both;
  } else if (*value == "begin") {
    hooks = HookOffer::Begin;
  } else if (*value == "end") {
    hooks = HookOffer::End;
  } else if (*value == "none") {
    hooks = HookOffer::None;
  } else {
    reader.fail(name, *value, "both, begin, end or none");
  }
}

void readFlipBit(Reader& reader, std::optional<BitFlip>& flip) {
  const char* name = "ARGB_EMU_FLIP_BIT";
  auto value = reader.text(name);
  if (!value) return;
  std::string_view text = *value;
  std::size_t colon = text.find(':');
  auto address = parseNumber(text.substr(0, colon));
  auto bit = colon == std::string_view::npos ? std::nullopt : parseNumber(text.substr(colon + 1));
  if (!address || !bit || *address < 0 || *address > kFlashLastAddress || *bit < 0 || *bit > 7) {
    reader.fail(name, *value, "ADDRESS:BIT with an address below 0x10000 and a bit 0..7");
    return;
  }
  flip = BitFlip{static_cast<std::uint32_t>(*address), static_cast<unsigned>(*bit)};
}

}  // namespace

ConfigResult parseConfig(const EnvironmentLookup& lookup) {
  ConfigResult result;
  EmulatorConfig& config = result.config;
  ControllerOptions& device = config.controller;
  Reader reader(lookup, result.errors);

  reader.version("ARGB_EMU_VERSION", config.version);
  reader.version("ARGB_EMU_IMAGE_VERSION", device.imageVersion);
  reader.flag("ARGB_EMU_NO_CONTROLLER", config.noController);
  reader.read("ARGB_EMU_VERSION_BAD_READS", config.versionBadReads, 0, kU32Max);
  readBadReadKind(reader, config.badReadKind);
  reader.read("ARGB_EMU_INIT_STATUS", config.initStatus, kI32Min, kI32Max);
  reader.read("ARGB_EMU_ENUM_STATUS", config.enumStatus, kI32Min, kI32Max);
  reader.list("ARGB_EMU_MISSING_IDS", config.missingIds);
  readHooks(reader, config.hooks);
  config.tracePath = reader.text("ARGB_EMU_TRACE").value_or("");
  config.statePath = reader.text("ARGB_EMU_STATE").value_or("");

  if (auto ms = reader.number("ARGB_EMU_ERASE_MS", 0, kU32Max)) {
    device.eraseTime = std::chrono::milliseconds(*ms);
  }
  if (auto ms = reader.number("ARGB_EMU_PROGRAM_MS", 0, kU32Max)) {
    device.programTime = std::chrono::milliseconds(*ms);
  }
  reader.list("ARGB_EMU_FAIL_WRITE_FRAMES", config.failWriteFrames);
  reader.list("ARGB_EMU_NO_ACK_FRAMES", config.noAckFrames);
  reader.read("ARGB_EMU_ACK_AFTER_POLLS", device.ackAfterPolls, 1, kU32Max);
  reader.flag("ARGB_EMU_SILENT_LOADER", device.silentLoader);
  readFlipBit(reader, device.flipAfterProgramming);
  if (auto frame = reader.number("ARGB_EMU_POWER_LOSS_AFTER_FRAME", 1, kU32Max)) {
    config.powerLossAfterFrame = static_cast<std::uint32_t>(*frame);
  }
  return result;
}

}  // namespace argb::emulator
