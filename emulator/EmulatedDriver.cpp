#include "emulator/EmulatedDriver.h"

#include <algorithm>
#include <iostream>

#include "emulator/DeviceStateFile.h"
#include "emulator/Hex.h"

namespace argb::emulator {

namespace {

constexpr std::uint32_t kVersionWriteLength = 7;
constexpr std::uint32_t kAcknowledgementLength = 4;
constexpr std::uint32_t kWriteArgument = 0;
constexpr std::uint32_t kPollArgument = 1;
// No request of a healthy updater comes near this; larger sizes are not dumped into the trace.
constexpr std::uint32_t kMaxTracedBytes = 1024;

bool contains(const std::vector<std::uint32_t>& values, std::uint32_t value) {
  return std::ranges::find(values, value) != values.end();
}

std::string join(std::string a, const std::string& b) {
  if (a.empty()) return b;
  if (!b.empty()) a += "; " + b;
  return a;
}

DeviceState initialState(const EmulatorConfig& config, std::vector<std::string>& errors,
                         std::string& origin) {
  if (config.statePath.empty()) {
    origin = "fresh";
    return DeviceState::factoryNew(config.version);
  }
  StateFileLoad load = loadDeviceState(config.statePath);
  if (!load.error.empty()) {
    // Left as it is: the path may name some other file by mistake.
    errors.push_back(load.error);
    origin = "unusable";
    return DeviceState::factoryNew(config.version);
  }
  if (!load.state) {
    origin = "created";
    return DeviceState::factoryNew(config.version);
  }
  origin = "loaded";
  load.state->powerOn();
  return std::move(*load.state);
}

bool hookOffered(HookOffer offer, std::uint32_t id) {
  if (id == kIdCallBeginHook) return offer == HookOffer::Both || offer == HookOffer::Begin;
  if (id == kIdCallEndHook) return offer == HookOffer::Both || offer == HookOffer::End;
  return true;
}

bool knownId(std::uint32_t id) {
  return id == kIdInitialize || id == kIdEnumPhysicalGpus || id == kIdI2cWriteEx ||
         id == kIdI2cReadEx || id == kIdCallBeginHook || id == kIdCallEndHook;
}

EmulatedDriver::Outcome malformed(std::string why) {
  return {kStatusMalformed, std::move(why)};
}

std::span<const std::uint8_t> recordData(const I2cRecordV3* record) {
  if (record == nullptr || record->pbData == nullptr || record->cbSize > kMaxTracedBytes) return {};
  return {record->pbData, record->cbSize};
}

}  // namespace

EmulatedDriver::EmulatedDriver(ConfigResult config, Clock clock)
    : config_(std::move(config.config)),
      errors_(std::move(config.errors)),
      clock_(std::move(clock)),
      start_(clock_()),
      trace_(config_.tracePath),
      controller_(initialState(config_, errors_, stateOrigin_), config_.controller) {
  if (trace_.failed()) errors_.push_back("cannot open the trace file " + config_.tracePath);
  if (stateOrigin_ == "created") {
    std::string error = saveDeviceState(config_.statePath, controller_.state());
    if (!error.empty()) errors_.push_back(error);
  }
  std::string note;
  for (const std::string& error : errors_) {
    std::cerr << "emulated driver: " << error << '\n';
    note = join(note, error);
  }
  if (!errors_.empty()) note = join(note, "configuration errors: the driver offers nothing");
  const DeviceState& state = controller_.state();
  JsonLine line = startLine("emulator-start");
  line.add("mode", modeName(state.mode))
      .add("version", formatVersion(state.version))
      .add("state", stateOrigin_);
  if (!note.empty()) line.add("note", note);
  trace_.write(line);
}

bool EmulatedDriver::offers(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  const bool offered = errors_.empty() && knownId(id) && !contains(config_.missingIds, id) &&
                       hookOffered(config_.hooks, id);
  if (offered && id == kIdCallBeginHook) beginHookGiven_ = true;
  if (offered && id == kIdCallEndHook) endHookGiven_ = true;
  trace_.write(
      startLine("nvapi_QueryInterface").add("id", hexNumber(id, 8)).add("offered", offered));
  return offered;
}

std::int32_t EmulatedDriver::initialize() {
  std::lock_guard lock(mutex_);
  initialised_ = config_.initStatus == kStatusOk;
  trace_.write(startLine("NvAPI_Initialize").add("status", config_.initStatus));
  return config_.initStatus;
}

void EmulatedDriver::libraryUnloaded() {
  std::lock_guard lock(mutex_);
  trace_.write(startLine("library-unload"));
}

std::int32_t EmulatedDriver::enumPhysicalGpus(GpuHandle* handles, std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  Outcome outcome;
  if (!initialised_) {
    outcome = {kStatusNotInitialised, "no successful initialise"};
  } else if (handles == nullptr || count == nullptr) {
    outcome = malformed("null argument");
  } else if (config_.enumStatus != kStatusOk) {
    outcome.status = config_.enumStatus;
  } else {
    std::fill(handles, handles + kMaxPhysicalGpus, nullptr);
    handles[0] = gpu();
    *count = 1;
    enumerated_ = true;
  }
  JsonLine line = startLine("NvAPI_EnumPhysicalGPUs");
  if (outcome.status == kStatusOk) line.add("count", 1);
  line.add("status", outcome.status);
  outcome.note = join(outcome.note, noteWrappedCall(kIdEnumPhysicalGpus, outcome.status));
  if (!outcome.note.empty()) line.add("note", outcome.note);
  trace_.write(line);
  return outcome.status;
}

std::int32_t EmulatedDriver::i2cWrite(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg) {
  std::lock_guard lock(mutex_);
  // Frames are counted whatever becomes of them, so that a test can name frame k in advance.
  std::optional<std::uint32_t> frame;
  if (record != nullptr && record->regAddrSize == 0) frame = ++frameCount_;
  Outcome outcome = writeTransaction(gpu, record, arg, frame);
  if (frame && frame == config_.powerLossAfterFrame && !powerLost_) {
    powerLost_ = true;
    if (!config_.statePath.empty()) {
      std::string error = saveDeviceState(config_.statePath, controller_.state());
      outcome.note = join(outcome.note, error);
    }
    outcome.note = join(outcome.note, "power lost");
  }
  outcome.note = join(outcome.note, noteWrappedCall(kIdI2cWriteEx, outcome.status));
  traceTransaction("NvAPI_I2CWriteEx", record, arg, recordData(record), frame, outcome);
  return outcome.status;
}

std::int32_t EmulatedDriver::i2cRead(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg) {
  std::lock_guard lock(mutex_);
  Outcome outcome = readTransaction(gpu, record, arg);
  outcome.note = join(outcome.note, noteWrappedCall(kIdI2cReadEx, outcome.status));
  auto received =
      outcome.status == kStatusOk ? recordData(record) : std::span<const std::uint8_t>{};
  traceTransaction("NvAPI_I2CReadEx", record, arg, received, std::nullopt, outcome);
  return outcome.status;
}

std::optional<EmulatedDriver::Outcome> EmulatedDriver::checkCommon(GpuHandle gpu,
                                                                   const I2cRecordV3* record,
                                                                   const std::uint32_t* arg) {
  if (!initialised_) return Outcome{kStatusNotInitialised, "no successful initialise"};
  if (record == nullptr) return malformed("null record");
  if (arg == nullptr) return malformed("null third argument");
  if (!enumerated_ || gpu != this->gpu()) return malformed("not the enumerated GPU handle");
  const I2cRecordV3& r = *record;
  if (r.version != kRecordVersion3) return malformed("record version " + hexNumber(r.version));
  if (r.displayMask != 0) return malformed("display mask " + hexNumber(r.displayMask));
  if (r.bIsDDCPort != 0) return malformed("DDC port flag set");
  if (r.portId != kControllerPort || r.bIsPortIdSet != 1) {
    return malformed("port " + std::to_string(r.portId) + " with flag " +
                     std::to_string(r.bIsPortIdSet) + ", expected port 1 with flag 1");
  }
  if (r.i2cSpeed != kSpeedDeprecated) return malformed("speed " + hexNumber(r.i2cSpeed));
  if (r.i2cSpeedKhz != kSpeedCode10Khz)
    return malformed("speed code " + std::to_string(r.i2cSpeedKhz));
  if (r.pbData == nullptr) return malformed("null data buffer");
  return std::nullopt;
}

std::optional<EmulatedDriver::Outcome> EmulatedDriver::absent(std::uint8_t address) const {
  if (config_.noController) return Outcome{kStatusNoDevice, "no controller"};
  if (powerLost_) return Outcome{kStatusNoDevice, "the controller has no power"};
  if (!controller_.answersAt(address)) {
    return Outcome{kStatusNoDevice, "nothing answers at " + hexNumber(address)};
  }
  return std::nullopt;
}

EmulatedDriver::Outcome EmulatedDriver::writeTransaction(GpuHandle gpu, I2cRecordV3* record,
                                                         std::uint32_t* arg,
                                                         std::optional<std::uint32_t> frame) {
  if (auto refused = checkCommon(gpu, record, arg)) return *refused;
  if (*arg != kWriteArgument)
    return malformed("third argument " + std::to_string(*arg) + " for a write");
  if (record->regAddrSize == 1) return versionWrite(*record);
  if (record->regAddrSize == 0) return frameWrite(*record, *frame);
  return malformed("register address size " + std::to_string(record->regAddrSize));
}

EmulatedDriver::Outcome EmulatedDriver::versionWrite(const I2cRecordV3& r) {
  if (r.i2cDevAddress != kApplicationAddress) {
    return malformed("register write to " + hexNumber(r.i2cDevAddress));
  }
  if (r.pbI2cRegAddress == nullptr || r.pbI2cRegAddress[0] != kVersionRegister) {
    return malformed("register write of another register than 0x81");
  }
  if (r.cbSize != kVersionWriteLength) {
    return malformed("version write of " + std::to_string(r.cbSize) + " bytes");
  }
  if (std::any_of(r.pbData, r.pbData + r.cbSize, [](std::uint8_t b) { return b != 0; })) {
    return malformed("version write with non-zero data");
  }
  if (auto missing = absent(r.i2cDevAddress)) return *missing;
  controller_.requestVersion();
  return {};
}

EmulatedDriver::Outcome EmulatedDriver::frameWrite(const I2cRecordV3& r, std::uint32_t frame) {
  if (r.pbI2cRegAddress != nullptr) return malformed("register pointer without a register size");
  if (r.i2cDevAddress != kApplicationAddress && r.i2cDevAddress != kLoaderAddress) {
    return malformed("frame to " + hexNumber(r.i2cDevAddress));
  }
  if (r.cbSize != kHeaderLength && r.cbSize != kCommandFrameLength &&
      r.cbSize != kDataBlockLength && r.cbSize != kExpectedCrcLength) {
    return malformed("frame of " + std::to_string(r.cbSize) + " bytes");
  }
  if (auto missing = absent(r.i2cDevAddress)) return *missing;
  if (contains(config_.failWriteFrames, frame)) return {kStatusInjectedFault, "write fails"};
  const bool acknowledge = !contains(config_.noAckFrames, frame);
  FrameResult result =
      controller_.receiveFrame(r.i2cDevAddress, {r.pbData, r.cbSize}, now(), acknowledge);
  Outcome outcome{kStatusOk, result.accepted ? result.note : "refused: " + result.note};
  if (!acknowledge) outcome.note = join(outcome.note, "never acknowledged");
  saveIfChanged(outcome.note);
  return outcome;
}

EmulatedDriver::Outcome EmulatedDriver::readTransaction(GpuHandle gpu, I2cRecordV3* record,
                                                        std::uint32_t* arg) {
  if (auto refused = checkCommon(gpu, record, arg)) return *refused;
  if (record->regAddrSize == 1) return versionRead(*record, *arg);
  if (record->regAddrSize == 0) return acknowledgementRead(*record, *arg);
  return malformed("register address size " + std::to_string(record->regAddrSize));
}

EmulatedDriver::Outcome EmulatedDriver::versionRead(I2cRecordV3& r, std::uint32_t arg) {
  if (r.i2cDevAddress != kApplicationReadAddress) {
    return malformed("register read from " + hexNumber(r.i2cDevAddress));
  }
  if (r.pbI2cRegAddress == nullptr || r.pbI2cRegAddress[0] != kVersionRegister) {
    return malformed("register read of another register than 0x81");
  }
  if (r.cbSize != kVersionReplyLength) {
    return malformed("version read of " + std::to_string(r.cbSize) + " bytes");
  }
  // The updater passes the write's variable on, not reset.
  if (arg != kWriteArgument) return malformed("third argument " + std::to_string(arg));
  if (auto missing = absent(r.i2cDevAddress)) return *missing;
  VersionReply reply = controller_.versionReply();
  Outcome outcome;
  if (reply[0] == 0) outcome.note = "no version write before this read";
  if (++versionReads_ <= config_.versionBadReads) {
    outcome.note = "bad version read " + std::to_string(versionReads_) +
                   (outcome.note.empty() ? "" : "; " + outcome.note);
    if (config_.badReadKind == BadReadKind::Fail) return {kStatusInjectedFault, outcome.note};
    const std::uint8_t fill = config_.badReadKind == BadReadKind::Zero ? 0x00 : 0xFF;
    std::fill(reply.begin() + 4, reply.end(), fill);
  }
  std::ranges::copy(reply, r.pbData);
  return outcome;
}

EmulatedDriver::Outcome EmulatedDriver::acknowledgementRead(I2cRecordV3& r, std::uint32_t arg) {
  if (r.i2cDevAddress != kApplicationAddress && r.i2cDevAddress != kLoaderAddress) {
    return malformed("acknowledgement read from " + hexNumber(r.i2cDevAddress));
  }
  if (r.cbSize != kAcknowledgementLength) {
    return malformed("acknowledgement read of " + std::to_string(r.cbSize) + " bytes");
  }
  if (arg != kPollArgument)
    return malformed("third argument " + std::to_string(arg) + " for a poll");
  if (auto missing = absent(r.i2cDevAddress)) return *missing;
  PollResult poll = controller_.pollAcknowledge(r.i2cDevAddress, now());
  const std::uint8_t reply[kAcknowledgementLength] = {
      poll.acknowledged ? std::uint8_t{1} : std::uint8_t{0}, 0, 0, 0};
  std::copy(reply, reply + kAcknowledgementLength, r.pbData);
  Outcome outcome{kStatusOk, poll.note};
  saveIfChanged(outcome.note);
  return outcome;
}

void EmulatedDriver::callBegin(std::uint32_t id, std::uint64_t* cookie) {
  std::lock_guard lock(mutex_);
  std::string note;
  JsonLine line = startLine("CallBeginHook");
  line.add("id", hexNumber(id, 8));
  if (openCall_) note = "begin again before the end of " + hexNumber(openCall_->id, 8);
  if (cookie == nullptr) {
    note = join(note, "null cookie");
  } else {
    line.add("cookie", static_cast<std::int64_t>(*cookie));
    if (*cookie != 0) note = join(note, "cookie not 0");
    // A value of its own, so that the end hook shows whether the caller kept it.
    *cookie = ++lastCookie_;
    line.add("set", static_cast<std::int64_t>(lastCookie_));
  }
  openCall_ = OpenCall{id, lastCookie_, std::nullopt, 0};
  if (!note.empty()) line.add("note", note);
  trace_.write(line);
}

void EmulatedDriver::callEnd(std::uint32_t id, std::uint64_t cookie, std::int32_t status) {
  std::lock_guard lock(mutex_);
  std::string note;
  if (!openCall_) {
    note = "end without a begin";
  } else {
    if (id != openCall_->id) note = "begin was for " + hexNumber(openCall_->id, 8);
    if (cookie != openCall_->cookie) {
      note = join(note, "the begin hook left cookie " + std::to_string(openCall_->cookie));
    }
    if (openCall_->calledId != id) {
      note = join(note, "no call of this function since the begin");
    } else if (openCall_->status != status) {
      note = join(note, "the call returned " + std::to_string(openCall_->status));
    }
  }
  openCall_.reset();
  JsonLine line = startLine("CallEndHook");
  line.add("id", hexNumber(id, 8))
      .add("cookie", static_cast<std::int64_t>(cookie))
      .add("status", status);
  if (!note.empty()) line.add("note", note);
  trace_.write(line);
}

std::string EmulatedDriver::noteWrappedCall(std::uint32_t id, std::int32_t status) {
  if (!openCall_) {
    return beginHookGiven_ && endHookGiven_ ? "called without the begin hook" : std::string();
  }
  std::string note = openCall_->calledId ? "a second call inside one pair of hooks" : std::string();
  openCall_->calledId = id;
  openCall_->status = status;
  return note;
}

void EmulatedDriver::saveIfChanged(std::string& note) {
  if (config_.statePath.empty() || controller_.changeCount() == savedChanges_) return;
  savedChanges_ = controller_.changeCount();
  note = join(note, saveDeviceState(config_.statePath, controller_.state()));
}

JsonLine EmulatedDriver::startLine(std::string_view fn) {
  JsonLine line;
  line.add("t_us", now().count()).add("fn", fn);
  return line;
}

void EmulatedDriver::traceTransaction(std::string_view fn, const I2cRecordV3* record,
                                      const std::uint32_t* arg, std::span<const std::uint8_t> data,
                                      std::optional<std::uint32_t> frame, const Outcome& outcome) {
  if (!trace_.enabled()) return;
  JsonLine line = startLine(fn);
  if (record != nullptr) {
    std::span<const std::uint8_t> reg;
    if (record->pbI2cRegAddress != nullptr && record->regAddrSize <= kMaxTracedBytes) {
      reg = {record->pbI2cRegAddress, record->regAddrSize};
    }
    line.add("dev", hexNumber(record->i2cDevAddress))
        .add("version", hexNumber(record->version))
        .add("displayMask", record->displayMask)
        .add("ddc", record->bIsDDCPort)
        .add("reg", hexBytes(reg))
        .add("regSize", record->regAddrSize)
        .add("data", hexBytes(data))
        .add("cbSize", record->cbSize)
        .add("speed", hexNumber(record->i2cSpeed))
        .add("speedKhz", record->i2cSpeedKhz)
        .add("port", record->portId)
        .add("portSet", record->bIsPortIdSet);
  }
  if (arg != nullptr) line.add("arg", *arg);
  if (frame) line.add("frame", *frame);
  line.add("status", outcome.status);
  if (!outcome.note.empty()) line.add("note", outcome.note);
  trace_.write(line);
}

DeviceState EmulatedDriver::deviceState() const {
  std::lock_guard lock(mutex_);
  return controller_.state();
}

}  // namespace argb::emulator
