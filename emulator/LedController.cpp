#include "emulator/LedController.h"

#include <algorithm>
#include <utility>

#include "emulator/Crc16.h"
#include "emulator/Hex.h"
#include "emulator/ImageArea.h"

namespace argb::emulator {

namespace {

constexpr std::array<std::uint8_t, kHeaderLength> kStartHeader{0x01, kHeaderMarker, 0xFE,
                                                               kHeaderTrailer};

std::string rangeText(const FlashRange& range) {
  return hexNumber(range.first) + ".." + hexNumber(range.last);
}

}  // namespace

LedController::LedController(DeviceState state, ControllerOptions options)
    : state_(std::move(state)), options_(options) {}

bool LedController::answersAt(std::uint8_t address) const {
  if (state_.mode == Mode::Application) {
    return address == kApplicationAddress || address == kApplicationReadAddress;
  }
  return address == kLoaderAddress;
}

VersionReply LedController::versionReply() {
  if (!std::exchange(versionRequested_, false)) return {};
  const auto& v = state_.version;
  return {kVersionRegister, 0, 0, 0, v[0], v[1], v[2], v[3]};
}

FrameResult LedController::receiveFrame(std::uint8_t address, std::span<const std::uint8_t> frame,
                                        Time now, bool acknowledge) {
  // A new frame replaces whatever was waiting for its acknowledgement.
  pending_ = PendingFrame{};
  FrameResult result =
      state_.mode == Mode::Application ? receiveInApplication(frame) : receiveInLoader(frame, now);
  if (result.accepted) {
    pending_.present = true;
    pending_.address = address;
    pending_.willAcknowledge =
        acknowledge && !(options_.silentLoader && state_.mode == Mode::Loader);
  }
  return result;
}

PollResult LedController::pollAcknowledge(std::uint8_t address, Time now) {
  if (!pending_.present || pending_.address != address) return {};
  ++pending_.polls;
  if (!pending_.willAcknowledge || now < busyUntil_ || pending_.polls < options_.ackAfterPolls) {
    return {};
  }
  if (pending_.acknowledged) return {true, {}};
  pending_.acknowledged = true;
  return {true, acknowledgeAction()};
}

FrameResult LedController::receiveInApplication(std::span<const std::uint8_t> frame) {
  if (!std::ranges::equal(frame, kStartHeader)) {
    return {false, "the application takes only the start command"};
  }
  // The switch happens once the start has been acknowledged: the acknowledgement is read at 0xC0.
  pending_.action = OnAcknowledge::EnterLoader;
  return {true, {}};
}

FrameResult LedController::receiveInLoader(std::span<const std::uint8_t> frame, Time now) {
  if (now < busyUntil_) return {false, "the loader is busy"};
  switch (expect_) {
    case Expect::Command:
      return receiveCommand(frame, now);
    case Expect::DataBlock:
      return receiveDataBlock(frame, now);
    case Expect::ExpectedCrc:
      return receiveExpectedCrc(frame);
  }
  return {};
}

FrameResult LedController::receiveCommand(std::span<const std::uint8_t> frame, Time now) {
  auto decoded = decodeCommand(frame);
  if (!decoded.value) return {false, decoded.refusal};
  const DecodedCommand& command = *decoded.value;
  const bool afterExit = exitSeen_;
  exitSeen_ = false;
  switch (command.command) {
    case IapCommand::Start:
      pending_.action = afterExit ? OnAcknowledge::StartApplicationIfValid : OnAcknowledge::Nothing;
      return {true, {}};
    case IapCommand::Exit:
      exitSeen_ = true;
      return {true, {}};
    case IapCommand::Erase:
      state_.flash.erase(command.range->first, command.range->last);
      // Whatever application is written next is the new image.
      state_.version = options_.imageVersion;
      busyUntil_ = now + options_.eraseTime;
      ++changes_;
      return {true, {}};
    case IapCommand::Program:
      expect_ = Expect::DataBlock;
      range_ = *command.range;
      nextAddress_ = range_.first;
      return {true, {}};
    case IapCommand::CheckCrc:
      expect_ = Expect::ExpectedCrc;
      range_ = *command.range;
      return {true, {}};
  }
  return {};
}

FrameResult LedController::receiveDataBlock(std::span<const std::uint8_t> frame, Time now) {
  auto decoded = decodeDataBlock(frame);
  if (!decoded.value) return {false, decoded.refusal};
  // Payload bytes past the range's end are not written.
  const std::uint32_t count = std::min<std::uint32_t>(static_cast<std::uint32_t>(kPayloadLength),
                                                      range_.last - nextAddress_ + 1);
  state_.flash.program(nextAddress_, decoded.value->first(count));
  nextAddress_ += count;
  busyUntil_ = now + options_.programTime;
  ++changes_;
  std::string note;
  if (nextAddress_ > range_.last) {
    expect_ = Expect::Command;
    const auto& flip = options_.flipAfterProgramming;
    if (flip && flip->address >= range_.first && flip->address <= range_.last) {
      state_.flash.invertBit(flip->address, flip->bit);
      note = "bit " + std::to_string(flip->bit) + " of " + hexNumber(flip->address) + " flipped";
    }
  }
  return {true, note};
}

FrameResult LedController::receiveExpectedCrc(std::span<const std::uint8_t> frame) {
  auto decoded = decodeExpectedCrc(frame);
  if (!decoded.value) return {false, decoded.refusal};
  expect_ = Expect::Command;
  const std::uint16_t actual = crc16(state_.flash.range(range_.first, range_.last));
  if (actual != *decoded.value) {
    return {false, "CRC of " + rangeText(range_) + " is " + hexNumber(actual) + ", expected " +
                       hexNumber(*decoded.value)};
  }
  return {true, {}};
}

std::string LedController::acknowledgeAction() {
  switch (pending_.action) {
    case OnAcknowledge::Nothing:
      return {};
    case OnAcknowledge::EnterLoader:
      enterLoader();
      return "the loader runs";
    case OnAcknowledge::StartApplicationIfValid: {
      ImageCheck check = checkImage(state_.flash);
      if (!check.valid) return "image not valid (" + check.problem + "): the loader stays";
      state_.mode = Mode::Application;
      ++changes_;
      return "the application runs, version " + formatVersion(state_.version);
    }
  }
  return {};
}

void LedController::enterLoader() {
  state_.mode = Mode::Loader;
  versionRequested_ = false;
  expect_ = Expect::Command;
  exitSeen_ = false;
  ++changes_;
}

}  // namespace argb::emulator
