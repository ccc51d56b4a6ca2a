#include "emulator/tool/TraceAnnotator.h"

#include <algorithm>
#include <cstdio>

#include "emulator/Hex.h"
#include "emulator/ImageArea.h"

namespace argb::tools {

namespace {

using emulator::FlashRange;
using emulator::IapCommand;
using emulator::TraceRecord;

std::string hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string address(std::uint32_t value) {
  return hex(value, 4);
}
std::string device(std::uint32_t value) {
  return hex(value, 2);
}

std::string rangeText(const FlashRange& range) {
  return address(range.first) + ".." + address(range.last);
}

std::string count(std::uint32_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string withNotes(std::string text, const std::string& notes) {
  return notes.empty() ? text : text + " (" + notes + ")";
}

void addNote(std::string& notes, const std::string& note) {
  if (note.empty()) return;
  if (!notes.empty()) notes += "; ";
  notes += note;
}

std::int64_t numberOr(const TraceRecord& record, const char* key, std::int64_t fallback) {
  return record.number(key).value_or(fallback);
}

std::vector<std::uint8_t> dataOf(const TraceRecord& record) {
  return emulator::parseHexBytes(record.text("data")).value_or(std::vector<std::uint8_t>{});
}

bool isInformationBlock(const FlashRange& range) {
  return range.first == emulator::kInformationBlockAddress &&
         range.span() == emulator::kInformationBlockLength;
}

}  // namespace

void TraceAnnotator::add(const TraceRecord& record) {
  const std::string fn = record.text("fn");
  if (fn == "NvAPI_I2CWriteEx") return addWrite(record);
  if (fn == "NvAPI_I2CReadEx") return addRead(record);
  const std::string note = record.text("note");
  const auto status = numberOr(record, "status", 0);
  if (fn == "emulator-start") {
    closeStep();
    emit(withNotes("run: the device starts in " + record.text("mode") + " mode, version " +
                       record.text("version") + ", state " + record.text("state"),
                   note));
  } else if (fn == "nvapi_QueryInterface") {
    if (numberOr(record, "offered", 1) == 0) {
      emit("interface " + hex(static_cast<std::uint32_t>(numberOr(record, "id", 0)), 8) +
           " not offered");
    }
  } else if (fn == "NvAPI_Initialize") {
    emit("initialise: status " + std::to_string(status));
  } else if (fn == "NvAPI_EnumPhysicalGPUs") {
    emit(withNotes(status == 0
                       ? "enumerate GPUs: " +
                             count(static_cast<std::uint32_t>(numberOr(record, "count", 0)), "GPU")
                       : "enumerate GPUs: status " + std::to_string(status),
                   note));
  } else if (!note.empty()) {
    emit(fn + ": " + note);
  }
}

void TraceAnnotator::addUnreadable(std::size_t lineNumber) {
  emit("line " + std::to_string(lineNumber) + ": not a trace line");
}

void TraceAnnotator::addWrite(const TraceRecord& record) {
  closeStep();
  const auto status = numberOr(record, "status", 0);
  const auto dev = static_cast<std::uint32_t>(numberOr(record, "dev", 0));
  const std::string note = record.text("note");
  if (numberOr(record, "regSize", 0) != 0) {
    // The version query's write: only a failure is worth a line, its read tells the rest.
    if (status != 0) {
      emit(withNotes("version write to " + device(dev) + ": status " + std::to_string(status),
                     note));
    }
    return;
  }
  Step step;
  step.text = describeFrame(dataOf(record), dev);
  if (status != 0) {
    emit(withNotes(step.text + ": write failed (status " + std::to_string(status) + ")", note));
    return;
  }
  addNote(step.notes, note);
  step_ = std::move(step);
}

void TraceAnnotator::addRead(const TraceRecord& record) {
  if (numberOr(record, "regSize", 0) == 0) return addPoll(record);
  closeStep();
  const auto status = numberOr(record, "status", 0);
  std::string notes = record.text("note");
  std::string text = "version query at 0xC0: ";
  if (status != 0) {
    text += "read failed (status " + std::to_string(status) + ")";
  } else {
    auto data = dataOf(record);
    if (data.size() == 8) {
      char version[16];
      std::snprintf(version, sizeof version, "%02X.%02X.%02X.%02X", data[4], data[5], data[6],
                    data[7]);
      text += version;
    } else {
      text += "reply " + emulator::hexBytes(data);
    }
  }
  emit(withNotes(text, notes));
}

void TraceAnnotator::addPoll(const TraceRecord& record) {
  if (!step_) {
    const auto dev = static_cast<std::uint32_t>(numberOr(record, "dev", 0));
    emit(withNotes("poll at " + device(dev) + " with no frame waiting", record.text("note")));
    return;
  }
  ++step_->polls;
  const auto status = numberOr(record, "status", 0);
  const auto data = dataOf(record);
  const bool nonZero = std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b != 0; });
  if (status != 0) {
    // Thousands of identical failures make one note.
    if (step_->failedPollStatus != status) {
      addNote(step_->notes, "polls fail with status " + std::to_string(status) +
                                (record.text("note").empty() ? "" : ": " + record.text("note")));
    }
    step_->failedPollStatus = status;
    return;
  }
  addNote(step_->notes, record.text("note"));
  if (nonZero) {
    step_->acknowledged = true;
    closeStep();
  }
}

std::string TraceAnnotator::describeFrame(const std::vector<std::uint8_t>& bytes,
                                          std::uint32_t dev) {
  if (sequence_ && sequence_->command == IapCommand::Program &&
      bytes.size() == emulator::kDataBlockLength) {
    Sequence& program = *sequence_;
    const std::uint32_t total = program.range.blockCount();
    const std::uint32_t index = ++program.blocksSent;
    if (index >= total) sequence_.reset();
    if (isInformationBlock(program.range)) {
      return "information block to " + rangeText(program.range) + ": crc " +
             hex(emulator::readLe16(bytes, 0), 4) + ", length " +
             std::to_string(emulator::readLe32(bytes, 4));
    }
    const std::uint32_t to =
        program.range.first + (index - 1) * static_cast<std::uint32_t>(emulator::kPayloadLength);
    return "block " + std::to_string(index) + "/" + std::to_string(total) + " to " + address(to);
  }
  if (sequence_ && sequence_->command == IapCommand::CheckCrc &&
      bytes.size() == emulator::kExpectedCrcLength) {
    std::string text = "check CRC " + rangeText(sequence_->range) + ", expected " +
                       hex(emulator::readLe16(bytes, 0), 4);
    sequence_.reset();
    return text;
  }
  sequence_.reset();
  auto decoded = emulator::decodeCommand(bytes);
  if (!decoded.value) {
    return "frame of " + count(static_cast<std::uint32_t>(bytes.size()), "byte") + " to " +
           device(dev) + " [" + emulator::hexBytes(bytes) + "]";
  }
  const auto& command = *decoded.value;
  switch (command.command) {
    case IapCommand::Start:
      return "start at " + device(dev);
    case IapCommand::Exit:
      return "exit";
    case IapCommand::Erase:
      return "erase " + rangeText(*command.range);
    case IapCommand::Program:
      sequence_ = Sequence{command.command, *command.range, 0};
      return "program " + rangeText(*command.range) + ": " +
             count(command.range->blockCount(), "block");
    case IapCommand::CheckCrc:
      sequence_ = Sequence{command.command, *command.range, 0};
      return "check CRC " + rangeText(*command.range);
  }
  return {};
}

void TraceAnnotator::closeStep() {
  if (!step_) return;
  std::string text = step_->text + ": ";
  if (step_->acknowledged) {
    text += "acknowledged after " + count(step_->polls, "poll");
  } else if (step_->polls > 0) {
    text += "not acknowledged after " + count(step_->polls, "poll");
  } else {
    text += "not polled";
  }
  emit(withNotes(text, step_->notes));
  step_.reset();
}

std::vector<std::string> TraceAnnotator::finish() {
  closeStep();
  return lines_;
}

std::vector<std::string> annotateTrace(std::istream& in) {
  TraceAnnotator annotator;
  std::string line;
  std::size_t lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (line.empty()) continue;
    if (auto record = emulator::parseTraceLine(line)) {
      annotator.add(*record);
    } else {
      annotator.addUnreadable(lineNumber);
    }
  }
  return annotator.finish();
}

}  // namespace argb::tools
