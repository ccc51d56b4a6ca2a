// argb-emu-tool's trace: any text is annotated without a crash, every line that is not a trace
// line named, and a line as the emulator writes it reads back with the same values. The input's
// NUL-separated pieces are the keys and values of that line; its first 8 bytes are also a number.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "emulator/TraceReader.h"
#include "emulator/TraceWriter.h"
#include "emulator/tool/TraceAnnotator.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  using argb::fuzz::require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  const auto annotation = argb::tools::annotateTrace(in);
  // Each line that is not a trace line is named in the annotation, by its number.
  std::istringstream lines(text);
  std::size_t lineNumber = 0;
  for (std::string line; std::getline(lines, line);) {
    ++lineNumber;
    if (line.empty() || parseTraceLine(line)) continue;
    const std::string named = "line " + std::to_string(lineNumber) + ": not a trace line";
    require(std::find(annotation.begin(), annotation.end(), named) != annotation.end(),
            "an unreadable line is named");
  }

  JsonLine line;
  std::map<std::string, std::string, std::less<>> expected;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t keyEnd = std::min(rest.find('\0'), rest.size());
    const std::string key(rest.substr(0, keyEnd));
    rest.remove_prefix(std::min(keyEnd + 1, rest.size()));
    const std::size_t valueEnd = std::min(rest.find('\0'), rest.size());
    const std::string value(rest.substr(0, valueEnd));
    rest.remove_prefix(std::min(valueEnd + 1, rest.size()));
    line.add(key, value);
    expected[key] = value;
  }
  std::int64_t number = 0;
  if (size >= sizeof number) {
    std::memcpy(&number, data, sizeof number);
    line.add("\x01number", number);
  }
  const auto record = parseTraceLine(line.finish());
  require(record.has_value(), "a line the emulator writes is a trace line");
  if (size >= sizeof number) {
    require(record->number("\x01number") == number, "a number reads back");
    expected.erase("\x01number");
  }
  for (const auto& [key, value] : expected) {
    require(record->text(key) == value, "a text reads back");
  }
  return 0;
}
