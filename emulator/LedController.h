#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "emulator/DeviceState.h"
#include "emulator/IapFrames.h"

namespace argb::emulator {

// 8-bit bus addresses at which the controller answers.
inline constexpr std::uint8_t kApplicationAddress = 0xC0;
inline constexpr std::uint8_t kApplicationReadAddress = 0xC1;
inline constexpr std::uint8_t kLoaderAddress = 0x44;

inline constexpr std::uint8_t kVersionRegister = 0x81;
inline constexpr std::size_t kVersionReplyLength = 8;
using VersionReply = std::array<std::uint8_t, kVersionReplyLength>;

struct BitFlip {
  std::uint32_t address = 0;
  unsigned bit = 0;
};

struct ControllerOptions {
  // The version an application started from a newly written image reports.
  FirmwareVersion imageVersion = kDefaultImageVersion;
  std::chrono::microseconds eraseTime{5000};
  std::chrono::microseconds programTime{1000};  // per data block
  std::uint32_t ackAfterPolls = 1;  // a frame is acknowledged at its n-th poll at the earliest
  bool silentLoader = false;        // the loader never acknowledges
  std::optional<BitFlip> flipAfterProgramming;  // inverted when a program command covering it ends
};

struct FrameResult {
  bool accepted = false;  // false: the frame is refused and never acknowledged
  std::string note;       // why it was refused, or what it did worth telling
};

struct PollResult {
  bool acknowledged = false;
  std::string note;
};

// The LED controller: its application firmware at 0xC0/0xC1 and its IAP loader at 0x44. Time is
// passed in so that busy periods can be tested without waiting.
class LedController {
 public:
  using Time = std::chrono::microseconds;

  LedController(DeviceState state, ControllerOptions options);

  // Whether anything on the device answers a transaction to this address.
  bool answersAt(std::uint8_t address) const;

  // A write of the version register: the application prepares one answer.
  void requestVersion() { versionRequested_ = true; }
  // The application's answer to a read of its version register: 81 00 00 00 v0 v1 v2 v3 when a
  // version write came before it, eight zero bytes when none did.
  VersionReply versionReply();

  // A frame written without a register address. `acknowledge` false: processed but never
  // acknowledged (a fault the tests ask for).
  FrameResult receiveFrame(std::uint8_t address, std::span<const std::uint8_t> frame, Time now,
                           bool acknowledge = true);

  // One 4-byte acknowledgement read at `address`.
  PollResult pollAcknowledge(std::uint8_t address, Time now);

  const DeviceState& state() const { return state_; }

  // Grows with every change that a state file should keep.
  std::uint64_t changeCount() const { return changes_; }

 private:
  enum class Expect { Command, DataBlock, ExpectedCrc };
  enum class OnAcknowledge { Nothing, EnterLoader, StartApplicationIfValid };

  struct PendingFrame {
    bool present = false;
    std::uint8_t address = 0;
    bool willAcknowledge = false;
    bool acknowledged = false;
    std::uint32_t polls = 0;
    OnAcknowledge action = OnAcknowledge::Nothing;
  };

  FrameResult receiveInApplication(std::span<const std::uint8_t> frame);
  FrameResult receiveInLoader(std::span<const std::uint8_t> frame, Time now);
  FrameResult receiveCommand(std::span<const std::uint8_t> frame, Time now);
  FrameResult receiveDataBlock(std::span<const std::uint8_t> frame, Time now);
  FrameResult receiveExpectedCrc(std::span<const std::uint8_t> frame);
  std::string acknowledgeAction();
  void enterLoader();

  DeviceState state_;
  ControllerOptions options_;
  std::uint64_t changes_ = 0;
  PendingFrame pending_;
  Time busyUntil_{0};
  // The loader's place in a command sequence.
  Expect expect_ = Expect::Command;
  FlashRange range_;
  std::uint32_t nextAddress_ = 0;
  bool exitSeen_ = false;
  bool versionRequested_ = false;
};

}  // namespace argb::emulator
