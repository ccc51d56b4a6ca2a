#include "emulator/TraceWriter.h"

#include "emulator/Hex.h"

namespace argb::emulator {

namespace {

void appendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += "\\u00";
      out += hexBytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(&c), 1));
    } else {
      out.push_back(c);
    }
  }
}

}  // namespace

void JsonLine::key(std::string_view name) {
  if (!text_.empty()) text_.push_back(',');
  text_.push_back('"');
  appendEscaped(text_, name);
  text_ += "\":";
}

JsonLine& JsonLine::add(std::string_view name, std::string_view value) {
  key(name);
  text_.push_back('"');
  appendEscaped(text_, value);
  text_.push_back('"');
  return *this;
}

JsonLine& JsonLine::add(std::string_view name, std::int64_t number) {
  key(name);
  text_ += std::to_string(number);
  return *this;
}

TraceWriter::TraceWriter(const std::string& path) {
  if (path.empty()) return;
  out_.open(path, std::ios::app);
  failed_ = !out_.is_open();
}

void TraceWriter::write(const JsonLine& line) {
  if (!out_.is_open()) return;
  out_ << line.finish() << '\n';
  out_.flush();
}

}  // namespace argb::emulator
