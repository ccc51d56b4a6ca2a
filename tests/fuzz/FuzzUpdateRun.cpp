// The whole run, banner to exit code, against a driver and a user whose every answer comes from the
// fuzz input: the status of each driver call, the bytes of each read, each key. Aborts when the
// run breaks a promise it makes to its user, whatever those answers are.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/UpdateRun.h"
#include "app/UpdateSequence.h"
#include "driver/DriverFront.h"
#include "driver/TrustedLibraryLoader.h"
#include "emulator/Crc16.h"
#include "emulator/IapFrames.h"
#include "i2c/I2cTransport.h"
#include "iap/UpdaterContext.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/FakeDriverLibrary.h"
#include "tests/support/FakePlatform.h"

namespace argb {
namespace {

using emulator::IapCommand;
using fuzz::require;

constexpr std::uint32_t kMaxPollsPerFrame = 3002;
// A poll answered with this status leaves the controller silent for the rest of its frame: a frame
// that is never acknowledged costs one byte of input, and the answers after it still count.
constexpr driver::NvApiStatus kSilent = -128;
constexpr std::uint8_t kApplication = 0xC0;
constexpr std::uint8_t kLoader = 0x44;
constexpr std::string_view kQuestion = "Do you want to continue? (Y/N): \n";
constexpr std::string_view kClosingPrompt = "\nPress anykey to close the update.\n";
constexpr std::string_view kSuccess = "Update result:Success";
// Texts a run ends at when it fails; so does a result name on its own last line, every one but
// IAP_OK's, told here without the program's table. Each means -1.
constexpr std::array<std::string_view, 5> kFailureTexts = {
    "NvAPI initialization failed.\n", "Cannot get MCU FW version.\n",
    "Abnormal in FW version compare.\n", "Let it finish, then start this program again.\n", ").\n"};

bool endsInFailure(std::string_view text) {
  const std::string_view lastLine = text.substr(text.rfind('\n') + 1);
  if ((lastLine.starts_with("IAP_") && lastLine != "IAP_OK") || lastLine == "Unknow") return true;
  return std::any_of(kFailureTexts.begin(), kFailureTexts.end(),
                     [text](std::string_view ending) { return text.ends_with(ending); });
}

// The fuzz input as a stream of answers; once it runs out every answer is a failure.
class Answers {
 public:
  Answers(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  int byte() { return pos_ < size_ ? data_[pos_++] : -1; }
  driver::NvApiStatus status() {
    const int next = byte();
    return next < 0 ? -1 : static_cast<std::int8_t>(next);
  }
  void fill(std::uint8_t* buffer, std::size_t length) {
    const std::size_t taken = std::min(length, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, taken);
    std::memset(buffer + taken, 0, length - taken);
    pos_ += taken;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Frame {
  std::uint8_t address;
  std::vector<std::uint8_t> bytes;
  bool acknowledged = false;
};

// Platform and driver in one, so that every call the run makes is checked in the order it comes.
class FuzzedRun : public testing::FakePlatform, public driver::NvApi {
 public:
  enum class Answer { kNone, kYes, kNo, kOther };

  explicit FuzzedRun(Answers& answers) : answers_(answers) {}

  driver::NvApiStatus NvAPI_Initialize() override { return answerCall(); }

  driver::NvApiStatus NvAPI_EnumPhysicalGPUs(driver::GpuHandle handles[driver::kMaxPhysicalGpus],
                                             std::uint32_t* count) override {
    handles[0] = this;
    *count = 1;
    return answerCall();
  }

  driver::NvApiStatus NvAPI_I2CWriteEx(driver::GpuHandle, driver::I2cInfo* info,
                                       std::uint32_t*) override {
    checkRecord(*info);
    require(answer != Answer::kOther, "nothing is written after an answer other than Y");
    if (info->regAddrSize != 0) {
      require(isVersionRequest(*info), "a write with a register byte is the version request");
    } else {
      require(answer == Answer::kYes, "before the Y only the version request is written");
      frames.push_back({info->i2cDevAddress, {info->pbData, info->pbData + info->cbSize}});
      polling_ = false;
      silent_ = false;
    }
    const driver::NvApiStatus status = answerCall();
    polling_ = status == 0 && info->regAddrSize == 0;
    polls_ = 0;
    return status;
  }

  driver::NvApiStatus NvAPI_I2CReadEx(driver::GpuHandle, driver::I2cInfo* info,
                                      std::uint32_t*) override {
    checkRecord(*info);
    checkNoPauseOwed();
    const driver::NvApiStatus status = silent_ ? kSilent : answers_.status();
    silent_ = polling_ && status == kSilent;
    // Bytes of a failed read are whatever the driver left: they must not count.
    if (status == 0) {
      answers_.fill(info->pbData, info->cbSize);
    } else {
      std::memset(info->pbData, 0xA5, info->cbSize);
    }
    if (info->regAddrSize != 0) {
      require(info->i2cDevAddress == kApplication + 1 && info->cbSize == 8, "version read shape");
      return status;
    }
    require(info->cbSize == 4, "acknowledgement reads take 4 bytes");
    if (!polling_) {
      require(answer == Answer::kNone && ++probes_ == 1 && info->i2cDevAddress == kLoader,
              "an acknowledgement read without a frame is the one probe at 0x44");
      return status;
    }
    require(info->i2cDevAddress == frames.back().address, "a poll reads at its frame's address");
    require(++polls_ <= kMaxPollsPerFrame, "no frame is polled more than 3002 times");
    const bool acknowledged =
        status == 0 && std::any_of(info->pbData, info->pbData + 4, [](auto b) { return b != 0; });
    frames.back().acknowledged = acknowledged;
    polling_ = !acknowledged;
    pauseOwed_ = !acknowledged;
    return status;
  }

  int readKey() override {
    checkNoPauseOwed();
    const int key = answers_.byte();
    if (key >= 0) keys.push_back(key);
    const int read = FakePlatform::readKey();
    if (answer == Answer::kNone && std::string_view(output).ends_with(kQuestion)) {
      answer = read == 'Y' || read == 'y'   ? Answer::kYes
               : read == 'N' || read == 'n' ? Answer::kNo
                                            : Answer::kOther;
    }
    return read;
  }

  // Virtual time: only the order of pauses matters here, so nothing is recorded.
  void sleep(std::uint32_t milliseconds) override {
    require(pauseOwed_ == (milliseconds == 1), "every unacknowledged poll gets one 1 ms pause");
    pauseOwed_ = false;
  }

  void checkNoPauseOwed() const {
    require(!pauseOwed_, "an unacknowledged poll is followed by its pause");
  }

  // The version went unanswered and the loader was asked: any question was the recovery's.
  bool foundLoader() const { return probes_ == 1; }

  Answer answer = Answer::kNone;
  std::vector<Frame> frames;

 private:
  driver::NvApiStatus answerCall() {
    checkNoPauseOwed();
    return answers_.status();
  }

  static void checkRecord(const driver::I2cInfo& info) {
    require(info.version == driver::kI2cInfoVersion3 && info.portId == 1 &&
                info.bIsPortIdSet == 1 && info.pbData != nullptr,
            "every transaction is a version 3 record on port 1");
  }

  static bool isVersionRequest(const driver::I2cInfo& info) {
    return info.i2cDevAddress == kApplication && info.regAddrSize == 1 &&
           info.pbI2cRegAddress[0] == 0x81 && info.cbSize == 7 &&
           std::all_of(info.pbData, info.pbData + 7, [](auto b) { return b == 0; });
  }

  Answers& answers_;
  bool polling_ = false;
  bool silent_ = false;
  bool pauseOwed_ = false;
  std::uint32_t polls_ = 0;
  int probes_ = 0;
};

bool isCommand(const Frame& frame, IapCommand command, std::uint32_t first = 0,
               std::uint32_t last = 0) {
  const auto decoded = emulator::decodeCommand(frame.bytes).value;
  if (!decoded || decoded->command != command) return false;
  return !decoded->range || (decoded->range->first == first && decoded->range->last == last);
}

// The information block: image CRC from offset 40, the marker, the length it covers.
bool carriesInformationBlock(const Frame& frame, std::span<const std::uint8_t> image) {
  const auto payload = emulator::decodeDataBlock(frame.bytes).value;
  const std::uint16_t crc = emulator::crc16(image.subspan(40));
  const auto covered = static_cast<std::uint32_t>(image.size() - 40);
  return payload && emulator::readLe16(*payload, 0) == crc &&
         emulator::readLe16(*payload, 2) == 0x1A0C && emulator::readLe32(*payload, 4) == covered;
}

// Until one is acknowledged the frames are start attempts: 0xC0, 0xC0 again, 0x44 (only 0x44 when
// the loader was found). After that a frame that failed or went unanswered is the last one.
bool stopsWhereItMust(const std::vector<Frame>& frames, bool foundLoader) {
  static constexpr std::array<std::uint8_t, 3> kStarts = {kApplication, kApplication, kLoader};
  std::size_t attempt = foundLoader ? 2 : 0;
  auto frame = frames.begin();
  for (; frame != frames.end(); ++frame, ++attempt) {
    if (attempt == kStarts.size() || frame->address != kStarts[attempt] ||
        !isCommand(*frame, IapCommand::Start))
      return false;
    if (frame->acknowledged) break;
  }
  const auto failed = std::find_if_not(frame, frames.end(), std::mem_fn(&Frame::acknowledged));
  return failed == frames.end() || failed + 1 == frames.end();
}

// Every frame of the sequence, in its order, each acknowledged, the blocks carrying the image.
bool updateWasComplete(const std::vector<Frame>& frames, std::span<const std::uint8_t> image) {
  auto frame = frames.begin();
  // Start attempts that went unanswered, before the one that switched to the loader.
  while (frame != frames.end() && !frame->acknowledged && isCommand(*frame, IapCommand::Start))
    ++frame;
  if (frame == frames.end() || !frame->acknowledged || !isCommand(*frame++, IapCommand::Start))
    return false;
  const auto blocks = static_cast<std::size_t>((image.size() + 127) / 128);
  const auto end = static_cast<std::uint32_t>(0x1800 + image.size() - 1);
  if (static_cast<std::size_t>(frames.end() - frame) != blocks + 8) return false;
  const bool framesInOrder = isCommand(frame[0], IapCommand::Erase, 0x1800, 0xFFFF) &&
                             isCommand(frame[1], IapCommand::Program, 0x1820, 0x1827) &&
                             carriesInformationBlock(frame[2], image) &&
                             isCommand(frame[3], IapCommand::Program, 0x1800, end) &&
                             isCommand(frame[4 + blocks], IapCommand::CheckCrc, 0x1828, end) &&
                             emulator::decodeExpectedCrc(frame[5 + blocks].bytes).value ==
                                 emulator::crc16(image.subspan(40)) &&
                             isCommand(frame[6 + blocks], IapCommand::Exit) &&
                             isCommand(frame[7 + blocks], IapCommand::Start);
  if (!framesInOrder) return false;
  for (std::size_t k = 0; k < blocks; ++k) {
    const auto payload = emulator::decodeDataBlock(frame[4 + k].bytes).value;
    const auto carried = image.subspan(k * 128, std::min<std::size_t>(128, image.size() - k * 128));
    if (!payload || !std::equal(carried.begin(), carried.end(), payload->begin())) return false;
  }
  return std::all_of(frame, frames.end(),
                     [](const Frame& f) { return f.acknowledged && f.address == kLoader; });
}

// The image the run sends: just past the 40 bytes that the CRC leaves out, one block and a byte,
// two whole blocks, a short last block. The compiled-in image goes the same way with 81 blocks, at
// a twentieth of the speed.
std::span<const std::uint8_t> image(int choice) {
  static const auto testImage = [] {
    std::array<std::uint8_t, 300> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
  }();
  static constexpr std::array<std::size_t, 4> kLengths = {41, 129, 256, 300};
  return std::span(testImage).first(kLengths[static_cast<std::size_t>(choice)]);
}

void checkEnding(const FuzzedRun& run, int exitCode, std::span<const std::uint8_t> image) {
  run.checkNoPauseOwed();
  require(exitCode == -1 || exitCode == 0 || exitCode == 1, "the exit code is -1, 0 or 1");
  std::string_view text = run.output;
  if (text.ends_with(kClosingPrompt)) text.remove_suffix(kClosingPrompt.size());
  if (endsInFailure(text)) require(exitCode == -1, "a failure ends with -1");
  require(stopsWhereItMust(run.frames, run.foundLoader()),
          "after a frame that failed or went unanswered only the next start attempt is written");
  const bool succeeded = run.output.find(kSuccess) != std::string::npos;
  if (succeeded) {
    require(run.answer == FuzzedRun::Answer::kYes && exitCode == 0 &&
                updateWasComplete(run.frames, image),
            "success only after the whole sequence was sent and acknowledged");
  }
  // Declining the recovery leaves a controller without firmware: no 0 and no 1 there.
  const auto asked = run.foundLoader() ? FuzzedRun::Answer::kNone : run.answer;
  if (exitCode == 0) require(succeeded || asked == FuzzedRun::Answer::kNo, "0 only after an N");
  if (exitCode == 1) require(asked == FuzzedRun::Answer::kOther, "1 only after another key");
}

}  // namespace
}  // namespace argb

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb;
  Answers answers(data, size);
  FuzzedRun run(answers);
  // The first byte sets up the machine: terminal or not, window of its own, hooks, lock, Windows
  // version, image.
  const int setup = std::max(answers.byte(), 0);
  run.interactiveOutput = (setup & 1) != 0;
  run.consoleClosesWithProgram = (setup & 2) != 0;
  const int lock = (setup >> 3) & 3;
  run.lockResult.outcome = lock < 2    ? platform::RunLock::Outcome::kTaken
                           : lock == 2 ? platform::RunLock::Outcome::kHeldByAnotherRun
                                       : platform::RunLock::Outcome::kFailed;
  run.buildAtLeast9200 = (setup & 0x20) == 0;
  testing::installDriverLibrary(run, run, (setup & 4) != 0);

  driver::TrustedLibraryLoader loader(run);
  driver::DriverFront front(run, loader);
  i2c::I2cTransport transport(front, run);
  iap::UpdaterContext context(transport, run);
  const auto sent = image(setup >> 6);
  app::UpdateSequence sequence(run, run, run, context, sent.data(),
                               static_cast<std::uint32_t>(sent.size()));
  const int exitCode = app::UpdateRun(run, run, transport, sequence, run, run).run();
  checkEnding(run, exitCode, sent);
  return 0;
}
