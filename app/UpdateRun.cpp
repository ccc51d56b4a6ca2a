#include "app/UpdateRun.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ConsoleTexts.h"
#include "app/ExitCode.h"
#include "app/ProgramVersion.h"

namespace argb::app {
namespace {

constexpr const char* kBanner[] = {
    "\n================================",
    "\n(C) Corvix. Keep the computer powered on until the update has finished.",
    "\n--------------------------------",
    ("\nCorvix ARGB FW updater v" ARGB_PROGRAM_VERSION),
    "\n================================\n",
};

// Kept as the hexadecimal texts the maker ships them as.
constexpr const char kExpectedVersionByte0[] = "40";
constexpr const char kExpectedVersionByte1[] = "70";

}  // namespace

void UpdateRun::writeBanner() {
  for (const char* line : kBanner) console_.writeFormatted(line);
}

bool UpdateRun::takeRunLock() {
  const platform::RunLock::Result lock = runLock_.take();
  switch (lock.outcome) {
    case platform::RunLock::Outcome::kTaken:
      return true;
    case platform::RunLock::Outcome::kHeldByAnotherRun:
      console_.writeFormatted(
          "Another update is running. Let it finish, then start this program again.\n");
      return false;
    case platform::RunLock::Outcome::kFailed:
      break;
  }
  // Never without it: a second run could interleave its frames with this one's.
  console_.writeFormatted("Cannot take the lock that keeps to one update at a time (" + lock.cause +
                          ").\n");
  return false;
}

bool UpdateRun::readVersion(std::uint8_t version[i2c::I2cTransport::kVersionLength]) {
  console_.writeFormatted("Detected FW version");
  for (int attempt = 0; attempt < kVersionQueries; ++attempt) {
    // Only the bytes judge a query: a failed one leaves them as they were.
    transport_.readFwVersion(version);
    if (version[0] != 0x00 && version[0] != 0xFF) return true;
    if (attempt == kVersionQueries - 1) break;
    console_.writeStream(".");
    sleeper_.sleep(kVersionRetryPauseMs);
  }
  console_.writeFormatted("Cannot get MCU FW version.\n");
  return false;
}

bool UpdateRun::passesVersionGate(const std::uint8_t version[i2c::I2cTransport::kVersionLength]) {
  const long expected0 = std::strtol(kExpectedVersionByte0, nullptr, 16);
  const long expected1 = std::strtol(kExpectedVersionByte1, nullptr, 16);
  return static_cast<long>(version[0]) == expected0 && static_cast<long>(version[1]) == expected1;
}

int UpdateRun::askToContinue() {
  console_.writeStream("* Target FW version:40.70.00.09 \n\n");
  // A key typed during the version queries must not answer a question it never saw.
  console_.discardTypedAhead();
  console_.writeStream("Do you want to continue? (Y/N): \n");
  const int key = console_.readKey();
  // Input that has ended is no key: there is nothing to echo, and it answers nothing.
  if (key == platform::Console::kInputEnded) return key;
  const char answer = static_cast<char>(key);
  console_.writeStream("You pressed the '");
  console_.writeStream(std::string_view(&answer, 1));
  console_.writeStream("' key.");
  console_.writeStreamLineEnd();
  return answer;
}

int UpdateRun::startUpdate(ControllerMode mode) {
  // From here on the user's terminal must not cut the update off halfway.
  guard_.enterWritePhase();
  console_.writeStream("Continuing...\n");
  console_.writeStreamLineEnd();
  return sequence_.run(mode);
}

int UpdateRun::confirmAndContinue() {
  const int answer = askToContinue();
  if (answer == 'Y' || answer == 'y') return startUpdate(ControllerMode::kApplication);
  if (answer == 'N' || answer == 'n') {
    console_.writeStream("Exiting...");
    console_.writeStreamLineEnd();
    closingPrompt(console_);
    return kExitSuccess;
  }
  console_.writeStream("Invalid input. Exiting...");
  console_.writeStreamLineEnd();
  closingPrompt(console_);
  return kExitInvalidAnswer;
}

int UpdateRun::recoverFromLoader() {
  // Only the loader answers at its address; nothing has been written to the bus so far.
  if (transport_.i2cProbe(i2c::kLoaderAddress) != 0) return endEarly();
  console_.writeFormatted(
      "The controller is in its update loader: its firmware is missing or incomplete.\n");
  const int answer = askToContinue();
  if (answer == 'Y' || answer == 'y') return startUpdate(ControllerMode::kLoader);
  console_.writeStream(answer == 'N' || answer == 'n' ? "Exiting..." : "Invalid input. Exiting...");
  console_.writeStreamLineEnd();
  closingPrompt(console_);
  // Declined or not, the controller still has no firmware.
  return kExitFailure;
}

int UpdateRun::endEarly() {
  keepEndingReadable(console_);
  return kExitFailure;
}

int UpdateRun::run() {
  writeBanner();
  if (!takeRunLock()) return endEarly();
  if (transport_.i2cInit() != 0) {
    console_.writeFormatted("NvAPI initialization failed.\n");
    return endEarly();
  }

  std::uint8_t version[i2c::I2cTransport::kVersionLength] = {};
  if (!readVersion(version)) return recoverFromLoader();
  char versionLine[32];
  std::snprintf(versionLine, sizeof versionLine, ":%02x.%02x.%02x.%02x\n", version[0], version[1],
                version[2], version[3]);
  console_.writeFormatted(versionLine);

  if (!passesVersionGate(version)) {
    console_.writeFormatted("Abnormal in FW version compare.\n");
    closingPrompt(console_);
    return kExitFailure;
  }
  return confirmAndContinue();
}

}  // namespace argb::app
