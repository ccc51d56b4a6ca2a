#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "emulator/IapFrames.h"
#include "emulator/TraceReader.h"

namespace argb::tools {

// Turns the emulated driver's trace into the protocol steps that went over the bus, one line per
// step: "erase 0x1800..0xFFFF: acknowledged after 12 polls".
class TraceAnnotator {
 public:
  void add(const emulator::TraceRecord& record);
  void addUnreadable(std::size_t lineNumber);
  // The steps so far, including the one still waiting for its acknowledgement.
  std::vector<std::string> finish();

 private:
  // A frame and what its acknowledgement polls showed.
  struct Step {
    std::string text;
    std::string notes;
    std::uint32_t polls = 0;
    std::optional<std::int32_t> failedPollStatus;
    bool acknowledged = false;
  };
  // What the frames after a program or check command are.
  struct Sequence {
    emulator::IapCommand command = emulator::IapCommand::Start;
    emulator::FlashRange range;
    std::uint32_t blocksSent = 0;
  };

  void addWrite(const emulator::TraceRecord& record);
  void addRead(const emulator::TraceRecord& record);
  void addPoll(const emulator::TraceRecord& record);
  std::string describeFrame(const std::vector<std::uint8_t>& bytes, std::uint32_t device);
  void closeStep();
  void emit(std::string text) { lines_.push_back(std::move(text)); }

  std::vector<std::string> lines_;
  std::optional<Step> step_;
  std::optional<Sequence> sequence_;
};

// Reads a whole trace; lines that are not trace lines are reported where they occur.
std::vector<std::string> annotateTrace(std::istream& in);

}  // namespace argb::tools
