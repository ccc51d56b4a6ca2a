#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace argb::emulator {

// One flat JSON object: string and integer values, keys in the order they were added.
class JsonLine {
 public:
  JsonLine& add(std::string_view key, std::string_view text);
  JsonLine& add(std::string_view key, std::int64_t number);
  const std::string& text() const { return text_; }
  std::string finish() const { return "{" + text_ + "}"; }

 private:
  void key(std::string_view name);
  std::string text_;
};

// Appends one line per call and flushes it at once, so that a killed process leaves a complete
// trace up to its last call.
class TraceWriter {
 public:
  explicit TraceWriter(const std::string& path);  // empty: tracing off
  bool enabled() const { return out_.is_open(); }
  bool failed() const { return failed_; }  // a path was given but the file could not be opened
  void write(const JsonLine& line);

 private:
  std::ofstream out_;
  bool failed_ = false;
};

}  // namespace argb::emulator
