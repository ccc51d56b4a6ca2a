// Names and paths between the UTF-16 of the Windows-shaped interface and the UTF-8 of Linux: what
// converts one way converts back to the same text.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/linux/Utf16.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::platform;
  using argb::fuzz::require;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (const auto wide = utf8ToUtf16(bytes)) {
    require(wide->size() <= bytes.size(), "UTF-16 is never longer in units than UTF-8 in bytes");
    require(utf16ToUtf8(*wide) == bytes, "UTF-8 comes back from UTF-16 unchanged");
  }
  std::u16string units(size / 2, u'\0');
  std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
  if (const auto narrow = utf16ToUtf8(units)) {
    require(utf8ToUtf16(*narrow) == units, "UTF-16 comes back from UTF-8 unchanged");
  }
  return 0;
}
