#include "app/UpdateSequence.h"

#include "app/ConsoleTexts.h"
#include "app/ExitCode.h"
#include "app/FlashProgressLine.h"
#include "i2c/I2cFrame.h"
#include "iap/IapResultName.h"

namespace argb::app {

iap::IapResult UpdateSequence::switchToLoader(ControllerMode mode) {
  console_.writeStream("Initial FW update process.\n");
  // The application cannot answer a start it no longer has; the loader takes it at its address.
  if (mode == ControllerMode::kLoader) return context_.iapStart(i2c::kLoaderAddress);
  iap::IapResult result = context_.iapStart(i2c::kApplicationAddress);
  if (result == iap::kIapOk) return result;
  console_.writeStream("Initial FW update process - Second time.\n");
  result = context_.iapStart(i2c::kApplicationAddress);
  if (result == iap::kIapOk) return result;
  // The controller may already be in its loader, from an earlier update that did not finish.
  return context_.iapStart(i2c::kLoaderAddress);
}

iap::IapResult UpdateSequence::flashWithProgress() {
  FlashProgressLine progress(console_);
  const iap::IapResult result = context_.iapFlash(i2c::kLoaderAddress, &progress);
  progress.erase();
  return result;
}

int UpdateSequence::stop(iap::IapResult result) {
  guard_.updateEnded();
  console_.writeStream(iap::iapResultName(result));
  keepEndingReadable(console_);
  // A broken update must not look like a successful one to whoever checks the exit code.
  return kExitFailure;
}

int UpdateSequence::run(ControllerMode mode) {
  // An image that cannot be held is found before the controller is touched, not after its erase.
  context_.setImage(image_, imageLength_);
  if (!context_.holdsUsableImage()) return stop(iap::kIapCanNotFindApFile);

  iap::IapResult result = switchToLoader(mode);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("FW Erase\n");
  sleeper_.sleep(kPauseBeforeEraseMs);
  result |= context_.iapErase(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Prepare CRC\n");
  result |= context_.iapPrepareCrc(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Flash FW\n");
  result |= flashWithProgress();
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Check CRC\n");
  result |= context_.iapCheckCrc(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  console_.writeStream("Exit updater\n");
  result |= context_.iapExit(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  result = context_.iapStart(i2c::kLoaderAddress);
  if (result != iap::kIapOk) return stop(result);

  guard_.updateEnded();
  console_.writeStream("Update result:Success\n");
  closingPrompt(console_);
  return kExitSuccess;
}

}  // namespace argb::app
