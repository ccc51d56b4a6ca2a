#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "emulator/DeviceState.h"
#include "emulator/DriverRecord.h"
#include "emulator/EmulatorConfig.h"
#include "emulator/LedController.h"
#include "emulator/TraceWriter.h"

namespace argb::emulator {

// The driver side of the emulator: checks every request as a strict driver would, passes the
// well-formed ones to the LED controller, applies the configured faults and traces each call.
// The exported entry point and its C-callable functions forward to one instance of this class.
class EmulatedDriver {
 public:
  // Monotonic time; the trace counts from the value at construction.
  using Clock = std::function<std::chrono::microseconds()>;

  EmulatedDriver(ConfigResult config, Clock clock);

  // Whether the query entry offers the function with this ID.
  bool offers(std::uint32_t id);

  std::int32_t initialize();
  std::int32_t enumPhysicalGpus(GpuHandle* handles, std::uint32_t* count);
  std::int32_t i2cWrite(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg);
  std::int32_t i2cRead(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg);
  void callBegin(std::uint32_t id, std::uint64_t* cookie);
  void callEnd(std::uint32_t id, std::uint64_t cookie, std::int32_t status);
  // The library was unloaded (its last FreeLibrary) while the process goes on.
  void libraryUnloaded();

  DeviceState deviceState() const;

  // What one call returns, and why when that is worth a line in the trace.
  struct Outcome {
    std::int32_t status = kStatusOk;
    std::string note;
  };

 private:
  // A wrapped call between the two hooks.
  struct OpenCall {
    std::uint32_t id = 0;
    std::uint64_t cookie = 0;
    std::optional<std::uint32_t> calledId;
    std::int32_t status = 0;
  };

  std::optional<Outcome> checkCommon(GpuHandle gpu, const I2cRecordV3* record,
                                     const std::uint32_t* arg);
  Outcome writeTransaction(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg,
                           std::optional<std::uint32_t> frame);
  Outcome readTransaction(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg);
  Outcome versionWrite(const I2cRecordV3& record);
  Outcome frameWrite(const I2cRecordV3& record, std::uint32_t frame);
  Outcome versionRead(I2cRecordV3& record, std::uint32_t arg);
  Outcome acknowledgementRead(I2cRecordV3& record, std::uint32_t arg);
  std::optional<Outcome> absent(std::uint8_t address) const;

  std::string noteWrappedCall(std::uint32_t id, std::int32_t status);
  void saveIfChanged(std::string& note);
  JsonLine startLine(std::string_view fn);
  void traceTransaction(std::string_view fn, const I2cRecordV3* record, const std::uint32_t* arg,
                        std::span<const std::uint8_t> data, std::optional<std::uint32_t> frame,
                        const Outcome& outcome);
  GpuHandle gpu() { return &gpuToken_; }
  std::chrono::microseconds now() const { return clock_() - start_; }

  mutable std::mutex mutex_;
  EmulatorConfig config_;
  std::vector<std::string> errors_;
  Clock clock_;
  std::chrono::microseconds start_;
  TraceWriter trace_;
  std::string stateOrigin_;  // where the device state came from, for the trace
  LedController controller_;
  std::uint64_t savedChanges_ = 0;
  std::uint8_t gpuToken_ = 0;
  bool initialised_ = false;
  bool enumerated_ = false;
  bool powerLost_ = false;
  std::uint32_t frameCount_ = 0;
  std::uint32_t versionReads_ = 0;
  bool beginHookGiven_ = false;
  bool endHookGiven_ = false;
  std::optional<OpenCall> openCall_;
  std::uint64_t lastCookie_ = 0;
};

}  // namespace argb::emulator
