#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace argb::emulator {

// One line of the emulator's trace: a flat JSON object of string and integer values.
class TraceRecord {
 public:
  bool has(std::string_view key) const { return fields_.contains(key); }
  // A string value unescaped, or a number's text; empty when the key is missing.
  std::string text(std::string_view key) const;
  // A number, or a string holding a decimal or "0x"-hex number.
  std::optional<std::int64_t> number(std::string_view key) const;

  void set(std::string key, std::string value) { fields_[std::move(key)] = std::move(value); }

 private:
  std::map<std::string, std::string, std::less<>> fields_;
};

// Parses a line written by TraceWriter; nullopt when it is not such a line. Nested objects, arrays
// and floating-point numbers are not part of the format.
std::optional<TraceRecord> parseTraceLine(std::string_view line);

}  // namespace argb::emulator
