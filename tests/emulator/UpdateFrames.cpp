#include "UpdateFrames.h"

#include <algorithm>

#include "emulator/Crc16.h"

namespace argb::emulator::test {

namespace {

void putLe16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> header(std::uint8_t code) {
  return {code, 0x81, static_cast<std::uint8_t>(code ^ 0xFF), 0x7E};
}

std::vector<std::uint8_t> commandFrame(std::uint8_t code, std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint8_t> frame = header(code);
  frame.resize(16, 0);
  frame[4] = 12;
  putLe32(frame, 8, first);
  putLe32(frame, 12, last);
  putLe16(frame, 6, crc16(std::span(frame).subspan(4)));
  return frame;
}

std::vector<std::uint8_t> dataBlock(std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> block(130, 0xAA);
  std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), 128), block.begin());
  putLe16(block, 128, crc16(std::span(block).first(128)));
  return block;
}

std::vector<std::uint8_t> expectedCrcFrame(std::uint16_t crc) {
  return {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
}

std::vector<std::uint8_t> makeImage(std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> image(length);
  for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 13 + seed);
  std::fill(image.begin() + 0x20, image.begin() + 0x28, 0xFF);
  return image;
}

std::uint16_t imageCrc(const std::vector<std::uint8_t>& image) {
  return crc16(std::span(image).subspan(40));
}

std::vector<Frame> updateFrames(const std::vector<std::uint8_t>& image) {
  const auto length = static_cast<std::uint32_t>(image.size());
  std::vector<std::uint8_t> info(8);
  putLe16(info, 0, imageCrc(image));
  putLe16(info, 2, 0x1A0C);
  putLe32(info, 4, length - 40);
  std::vector<Frame> frames = {
      {0xC0, header(1)},
      {0x44, commandFrame(3, 0x1800, 0xFFFF)},
      {0x44, commandFrame(4, 0x1820, 0x1827)},
      {0x44, dataBlock(info)},
      {0x44, commandFrame(4, 0x1800, 0x1800 + length - 1)},
  };
  for (std::size_t offset = 0; offset < image.size(); offset += 128) {
    auto rest = std::span(image).subspan(offset);
    frames.push_back({0x44, dataBlock(rest.first(std::min<std::size_t>(rest.size(), 128)))});
  }
  frames.push_back({0x44, commandFrame(5, 0x1828, 0x1800 + length - 1)});
  frames.push_back({0x44, expectedCrcFrame(imageCrc(image))});
  frames.push_back({0x44, header(2)});
  frames.push_back({0x44, header(1)});
  return frames;
}

RunResult runFrames(const std::vector<Frame>& frames, const Link& link, std::uint32_t maxPolls) {
  RunResult result;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (!link.write(frames[i].address, frames[i].bytes)) {
      result.failedFrame = i;
      return result;
    }
    std::uint32_t polls = 0;
    bool acknowledged = false;
    while (!acknowledged && polls < maxPolls) {
      ++polls;
      acknowledged = link.poll(frames[i].address);
    }
    result.polls.push_back(polls);
    if (!acknowledged) {
      result.failedFrame = i;
      return result;
    }
  }
  return result;
}

}  // namespace argb::emulator::test
