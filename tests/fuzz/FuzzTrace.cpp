// argb-emu-tool's trace: any text is annotated without a crash, and a line as the emulator writes
// it reads back with the same values. The input's NUL-separated pieces are the keys and values of
// that line; its first 8 bytes are also a number.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

#include "emulator/TraceReader.h"
#include "emulator/TraceWriter.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/TraceAnnotator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  using argb::fuzz::require;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  argb::tools::annotateTrace(in);

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
