#include "app/UpdateSequence.h"

#include "app/ConsoleTexts.h"
#include "app/ExitCode.h"
#include "i2c/I2cFrame.h"
#include "iap/IapResultName.h"

namespace argb::app {

iap::IapResult UpdateSequence::switchToLoader() {
  console_.writeStream("Initial FW update process.\n");
  iap::IapResult result = context_.iapStart(i2c::kApplicationAddress);
  if (result == iap::kIapOk) return result;
  console_.writeStream("Initial FW update process - Second time.\n");
  result = context_.iapStart(i2c::kApplicationAddress);
  if (result == iap::kIapOk) return result;
  // The controller may already be in its loader, from an earlier update that did not finish.
  return context_.iapStart(i2c::kLoaderAddress);
}

int UpdateSequence::stop(iap::IapResult result) {
  console_.writeStream(iap::iapResultName(result));
  // A broken update must not look like a successful one to whoever checks the exit code.
  return kExitFailure;
}

int UpdateSequence::run() {
  iap::IapResult result = switchToLoader();
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("FW Erase\n");
  sleeper_.sleep(kPauseBeforeEraseMs);
  result |= context_.iapErase(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  context_.setImage(image_, imageLength_);

  console_.writeStream("Prepare CRC\n");
  result |= context_.iapPrepareCrc(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Flash FW\n");
  result |= context_.iapFlash(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Check CRC\n");
  result |= context_.iapCheckCrc(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Exit updater\n");
  result |= context_.iapExit(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  result = context_.iapStart(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Update result:Success\n");
  closingPrompt(console_);
  return kExitSuccess;
}

}  // namespace argb::app
