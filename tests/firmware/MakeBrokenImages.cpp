// Writes copies of a good firmware image, each breaking one layout rule (or sitting just inside
// one), for the tests that show the build refuses them.
//   make_broken_firmware_images <good image> <output directory>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kResetVectorOffset = 4;
constexpr std::uint32_t kLinkBase = 0x1800;
// The largest image whose last 128-byte block still ends at 0xFFFF.
constexpr std::size_t kLargestImage = 0x10000 - kLinkBase;

void putLe32(Bytes& image, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

bool write(const std::filesystem::path& path, const Bytes& image) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_broken_firmware_images <good image> <output directory>\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const Bytes good{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (good.size() <= 0x28) {
    std::fputs("cannot read a usable image\n", stderr);
    return 1;
  }
  const std::filesystem::path dir = argv[2];
  std::filesystem::create_directories(dir);
  const auto end = static_cast<std::uint32_t>(kLinkBase + good.size());

  Bytes window = good;
  window[0x24] = 0x00;
  Bytes thumb = good;
  thumb[kResetVectorOffset] &= 0xFE;
  Bytes pastEnd = good;
  putLe32(pastEnd, kResetVectorOffset, end | 1);
  Bytes belowBase = good;
  putLe32(belowBase, kResetVectorOffset, kLinkBase - 1);
  Bytes largest = good;
  largest.resize(kLargestImage, 0xFF);
  Bytes oversize = good;
  oversize.resize(kLargestImage + 1, 0xFF);
  const Bytes header(good.begin(), good.begin() + 40);

  const bool ok = write(dir / "window.bin", window) && write(dir / "thumb.bin", thumb) &&
                  write(dir / "reset_past_end.bin", pastEnd) &&
                  write(dir / "reset_below_base.bin", belowBase) &&
                  write(dir / "largest.bin", largest) && write(dir / "oversize.bin", oversize) &&
                  write(dir / "header_only.bin", header);
  return ok ? 0 : 1;
}
