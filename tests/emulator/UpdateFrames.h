#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace argb::emulator::test {

// Frames as the updater builds them, for driving the emulated device in tests.
std::vector<std::uint8_t> header(std::uint8_t code);
std::vector<std::uint8_t> commandFrame(std::uint8_t code, std::uint32_t first, std::uint32_t last);
// The payload is padded to 128 bytes with 0xAA, which must never reach flash.
std::vector<std::uint8_t> dataBlock(std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> expectedCrcFrame(std::uint16_t crc);

// An image linked at 0x1800 with the 0xFF window at offsets 0x20..0x27.
std::vector<std::uint8_t> makeImage(std::size_t length, std::uint8_t seed = 1);
std::uint16_t imageCrc(const std::vector<std::uint8_t>& image);

struct Frame {
  std::uint8_t address;
  std::vector<std::uint8_t> bytes;
};

// The whole update, frame by frame: start at 0xC0, erase, information block, program, check,
// exit and the last start at 0x44.
std::vector<Frame> updateFrames(const std::vector<std::uint8_t>& image);

// One way of reaching the device: write a frame (true: the write succeeded), poll once
// (true: acknowledged).
struct Link {
  std::function<bool(std::uint8_t address, std::span<const std::uint8_t> frame)> write;
  std::function<bool(std::uint8_t address)> poll;
};

struct RunResult {
  std::optional<std::size_t> failedFrame;  // index of the first frame not written or acknowledged
  std::vector<std::uint32_t> polls;        // polls each frame took
};

RunResult runFrames(const std::vector<Frame>& frames, const Link& link,
                    std::uint32_t maxPolls = 50);

}  // namespace argb::emulator::test
