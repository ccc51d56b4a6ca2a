// The bytes a terminal sends after an ESC, taken the way the console takes them: one at a time
// until the sequence is whole, at most 16.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/linux/EscapeSequences.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::platform;
  using argb::fuzz::require;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t taken = 0;
  while (taken < input.size() && taken < 16 && !isCompleteEscapeSequence(input.substr(0, taken)))
    ++taken;
  const std::string_view sequence = input.substr(0, taken);
  if (const auto codes = consoleKeyCodes(sequence)) {
    require(codes->prefix == 0xE0 || codes->prefix == 0x00, "a console key starts with E0 or 00");
    require(codes->scanCode > 0 && codes->scanCode < 0x100, "a scan code is one byte");
  }
  // A key the console knows must be read to its end and no further, or it is lost or eats the next.
  if (consoleKeyCodes(input)) require(sequence == input, "a known key sequence is read whole");
  return 0;
}
