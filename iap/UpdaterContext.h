#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "i2c/I2cBus.h"
#include "iap/FlashProgress.h"
#include "iap/IapFrames.h"
#include "iap/IapResult.h"
#include "platform/Sleeper.h"

namespace argb::iap {

// The one object that drives the loader: the six IAP operations, and the copy of the firmware
// image that three of them read. Each operation takes the controller's 8-bit bus address and stops
// at its first failure.
class UpdaterContext {
 public:
  UpdaterContext(i2c::I2cBus& bus, platform::Sleeper& sleeper);

  IapResult iapStart(std::uint32_t address);
  IapResult iapExit(std::uint32_t address);
  // Clears the whole application area; needs no image.
  IapResult iapErase(std::uint32_t address);
  // Writes the information block (image CRC and covered length) to its place in flash.
  IapResult iapPrepareCrc(std::uint32_t address);
  // Programs the image from the application start, 128 bytes per data block; `progress`, when
  // given, hears of every acknowledged block.
  IapResult iapFlash(std::uint32_t address, FlashProgress* progress = nullptr);
  // Asks the loader to check flash from offset 40 to the image end against the image CRC.
  IapResult iapCheckCrc(std::uint32_t address);

  // Replaces the held image with a copy of length bytes. When the copy cannot be allocated no
  // image is held, and the image operations return 6.
  void setImage(const std::uint8_t* bytes, std::uint32_t length);
  const std::uint8_t* image() const { return image_.get(); }
  std::uint32_t imageLength() const { return imageLength_; }
  // An image the CRC can cover: more than its first 40 bytes.
  bool holdsUsableImage() const;

 private:
  std::span<const std::uint8_t> imageBytes() const { return {image_.get(), imageLength_}; }
  // Address of the image's last byte in flash, in 32-bit arithmetic as the loader receives it.
  std::uint32_t imageFlashEnd() const;
  IapResult sendHeaderOnly(std::uint32_t address, IapCommand code);

  i2c::I2cBus& bus_;
  platform::Sleeper& sleeper_;
  std::unique_ptr<std::uint8_t[]> image_;
  std::uint32_t imageLength_ = 0;
};

}  // namespace argb::iap
