#include "emulator/TraceReader.h"

#include <cctype>

#include "emulator/Hex.h"

namespace argb::emulator {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<TraceRecord> object() {
    TraceRecord record;
    if (!consume('{')) return std::nullopt;
    skipSpace();
    if (consume('}')) return finished(record);
    do {
      auto key = string();
      if (!key || !consume(':')) return std::nullopt;
      skipSpace();
      auto value = peek() == '"' ? string() : bareValue();
      if (!value) return std::nullopt;
      record.set(std::move(*key), std::move(*value));
    } while (consume(','));
    if (!consume('}')) return std::nullopt;
    return finished(record);
  }

 private:
  std::optional<TraceRecord> finished(TraceRecord& record) {
    skipSpace();
    if (pos_ != text_.size()) return std::nullopt;
    return std::move(record);
  }

  char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }

  void skipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }

  bool consume(char c) {
    skipSpace();
    if (peek() != c) return false;
    ++pos_;
    return true;
  }

  std::optional<std::string> string() {
    if (!consume('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      char escaped = peek();
      ++pos_;
      switch (escaped) {
        case '"':
        case '\\':
        case '/':
          out.push_back(escaped);
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          // Only the control characters that TraceWriter escapes.
          auto code = parseNumber("0x" + std::string(text_.substr(pos_, 4)));
          if (!code || *code > 0x7F) return std::nullopt;
          out.push_back(static_cast<char>(*code));
          pos_ += 4;
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Numbers, true, false and null, kept as their text.
  std::optional<std::string> bareValue() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' &&
           !std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      ++pos_;
    }
    if (pos_ == start) return std::nullopt;
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string TraceRecord::text(std::string_view key) const {
  auto it = fields_.find(key);
  return it == fields_.end() ? std::string() : it->second;
}

std::optional<std::int64_t> TraceRecord::number(std::string_view key) const {
  auto it = fields_.find(key);
  if (it == fields_.end()) return std::nullopt;
  return parseNumber(it->second);
}

std::optional<TraceRecord> parseTraceLine(std::string_view line) {
  return Parser(line).object();
}

}  // namespace argb::emulator
