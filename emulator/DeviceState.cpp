#include "emulator/DeviceState.h"

#include "emulator/Crc16.h"
#include "emulator/Hex.h"
#include "emulator/ImageArea.h"

namespace argb::emulator {

namespace {

// The factory image: a small application with its information block in place. The bytes are an
// arbitrary pattern; only its validity matters.
constexpr std::uint32_t kFactoryImageLength = 0x400;
// Below the application area lives the loader itself; a pattern there shows that nothing
// overwrites it.
constexpr std::uint8_t loaderByte(std::uint32_t address) {
  return static_cast<std::uint8_t>(address * 7 + 3);
}

}  // namespace

DeviceState DeviceState::factoryNew(FirmwareVersion version) {
  DeviceState state;
  state.mode = Mode::Application;
  state.version = version;
  auto bytes = state.flash.all();
  for (std::uint32_t address = 0; address < kApplicationStart; ++address) {
    bytes[address] = loaderByte(address);
  }
  const std::uint32_t imageEnd = kApplicationStart + kFactoryImageLength - 1;
  for (std::uint32_t address = kVerifiedStart; address <= imageEnd; ++address) {
    bytes[address] = static_cast<std::uint8_t>(address * 31 + 7);
  }
  const std::uint32_t length = imageEnd - kVerifiedStart + 1;
  const std::uint16_t crc = crc16(state.flash.range(kVerifiedStart, imageEnd));
  const std::uint8_t block[kInformationBlockLength] = {
      static_cast<std::uint8_t>(crc),
      static_cast<std::uint8_t>(crc >> 8),
      static_cast<std::uint8_t>(kInformationBlockMarker),
      static_cast<std::uint8_t>(kInformationBlockMarker >> 8),
      static_cast<std::uint8_t>(length),
      static_cast<std::uint8_t>(length >> 8),
      0,
      0};
  state.flash.program(kInformationBlockAddress, block);
  return state;
}

void DeviceState::powerOn() {
  mode = checkImage(flash).valid ? Mode::Application : Mode::Loader;
}

std::string_view modeName(Mode mode) {
  return mode == Mode::Application ? "application" : "loader";
}

std::optional<Mode> parseMode(std::string_view text) {
  if (text == "application") return Mode::Application;
  if (text == "loader") return Mode::Loader;
  return std::nullopt;
}

std::string formatVersion(const FirmwareVersion& version) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < version.size(); ++i) {
    if (i > 0) text.push_back('.');
    text.push_back(kDigits[version[i] >> 4]);
    text.push_back(kDigits[version[i] & 0x0F]);
  }
  return text;
}

std::optional<FirmwareVersion> parseVersion(std::string_view text) {
  FirmwareVersion version{};
  for (std::size_t i = 0; i < version.size(); ++i) {
    std::size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    if (i + 1 < version.size() ? dot == std::string_view::npos : dot != std::string_view::npos) {
      return std::nullopt;
    }
    if (part.empty() || part.size() > 2) return std::nullopt;
    auto value = parseNumber("0x" + std::string(part));
    if (!value) return std::nullopt;
    version[i] = static_cast<std::uint8_t>(*value);
    text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
  }
  return version;
}

}  // namespace argb::emulator
