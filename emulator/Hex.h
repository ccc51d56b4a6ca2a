#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace argb::emulator {

// Bytes as lower-case hex digits without separators: "0381fc7e".
std::string hexBytes(std::span<const std::uint8_t> bytes);

// A number as "0x" and lower-case hex digits, at least `digits` of them: "0x30040".
std::string hexNumber(std::uint64_t value, std::size_t digits = 1);

// The inverse of hexBytes; nullopt for an odd length or a non-hex digit.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

// A decimal or "0x"-hex integer with an optional leading '-'; nullopt for anything else.
std::optional<std::int64_t> parseNumber(std::string_view text);

}  // namespace argb::emulator
