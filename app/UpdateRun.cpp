#include "app/UpdateRun.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/ConsoleTexts.h"
#include "app/ExitCode.h"

namespace argb::app {
namespace {

constexpr const char* kBanner[] = {
    "\n================================",
    "\n(C) Corvix. Keep the computer powered on until the update has finished.",
    "\n--------------------------------",
    "\nCorvix ARGB FW updater v0.0.1.3",
    "\n================================\n",
};

// Kept as the hexadecimal texts the maker ships them as.
constexpr const char kExpectedVersionByte0[] = "40";
constexpr const char kExpectedVersionByte1[] = "70";

}  // namespace

void UpdateRun::writeBanner() {
  for (const char* line : kBanner) console_.writeFormatted(line);
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

int UpdateRun::confirmAndContinue() {
  console_.writeStream("* Target FW version:40.70.00.09 \n\n");
  console_.writeStream("Do you want to continue? (Y/N): \n");
  const char answer = static_cast<char>(console_.readKey());
  console_.writeStream("You pressed the '");
  console_.writeStream(std::string_view(&answer, 1));
  console_.writeStream("' key.");
  console_.writeStreamLineEnd();

  if (answer == 'Y' || answer == 'y') {
    console_.writeStream("Continuing...\n");
    console_.writeStreamLineEnd();
    return sequence_.run();
  }
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

int UpdateRun::run() {
  writeBanner();
  if (transport_.i2cInit() != 0) {
    console_.writeFormatted("NvAPI initialization failed.\n");
    return kExitFailure;
  }

  std::uint8_t version[i2c::I2cTransport::kVersionLength] = {};
  if (!readVersion(version)) return kExitFailure;
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
