#include "emulator/Hex.h"

#include <charconv>

namespace argb::emulator {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string hexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::string hexNumber(std::uint64_t value, std::size_t digits) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
  std::string text(buffer, result.ptr);
  if (text.size() < digits) text.insert(0, digits - text.size(), '0');
  return "0x" + text;
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = hexDigitValue(text[i]);
    int low = hexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::optional<std::int64_t> parseNumber(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (result.ec != std::errc{} || result.ptr != text.data() + text.size()) return std::nullopt;
  // The most negative value has no positive counterpart, and the trace writes it too.
  const std::uint64_t largest = static_cast<std::uint64_t>(INT64_MAX) + (negative ? 1 : 0);
  if (magnitude > largest) return std::nullopt;
  return static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
}

}  // namespace argb::emulator
