#include "iap/UpdaterContext.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "iap/AckBudget.h"
#include "iap/FrameSender.h"
#include "iap/IapFlashMap.h"

namespace argb::iap {

UpdaterContext::UpdaterContext(i2c::I2cBus& bus, platform::Sleeper& sleeper)
    : bus_(bus), sleeper_(sleeper) {}

IapResult UpdaterContext::iapStart(std::uint32_t address) {
  return sendHeaderOnly(address, IapCommand::kStart);
}

IapResult UpdaterContext::iapExit(std::uint32_t address) {
  return sendHeaderOnly(address, IapCommand::kExit);
}

IapResult UpdaterContext::iapErase(std::uint32_t address) {
  FrameSender sender(bus_, sleeper_, address, ackBudget);
  return sender.send(buildCommandFrame(IapCommand::kErase, kApplicationStart, kApplicationEnd));
}

IapResult UpdaterContext::iapPrepareCrc(std::uint32_t address) {
  if (!holdsUsableImage()) {
    return kIapCanNotFindApFile;
  }
  FrameSender sender(bus_, sleeper_, address, ackBudget);
  const InformationBlock info =
      buildInformationBlock(imageCrc(imageBytes()), imageLength_ - kCrcStartOffset);
  const IapResult result = sender.send(
      buildCommandFrame(IapCommand::kWrite, kInformationBlockStart, kInformationBlockEnd));
  if (result != kIapOk) {
    return result;
  }
  return sender.send(buildDataBlock(info));
}

IapResult UpdaterContext::iapFlash(std::uint32_t address, FlashProgress* progress) {
  if (!holdsUsableImage()) {
    return kIapCanNotFindApFile;
  }
  FrameSender sender(bus_, sleeper_, address, ackBudget);
  IapResult result =
      sender.send(buildCommandFrame(IapCommand::kWrite, kApplicationStart, imageFlashEnd()));
  // The blocks carry no address: the loader places them one after the other from the start.
  const auto bytes = imageBytes();
  const auto blocksInAll =
      static_cast<std::uint32_t>((bytes.size() + kDataBlockPayload - 1) / kDataBlockPayload);
  std::uint32_t blocksDone = 0;
  std::size_t offset = 0;
  while (result == kIapOk && offset < bytes.size()) {
    const std::size_t count = std::min(kDataBlockPayload, bytes.size() - offset);
    result = sender.send(buildDataBlock(bytes.subspan(offset, count)));
    offset += count;
    if (result == kIapOk && progress != nullptr)
      progress->blockAcknowledged(++blocksDone, blocksInAll);
  }
  return result;
}

IapResult UpdaterContext::iapCheckCrc(std::uint32_t address) {
  if (!holdsUsableImage()) {
    return kIapCanNotFindApFile;
  }
  FrameSender sender(bus_, sleeper_, address, ackBudget);
  const std::uint16_t crc = imageCrc(imageBytes());
  const IapResult result =
      sender.send(buildCommandFrame(IapCommand::kCheckCrc, kCrcStart, imageFlashEnd()));
  if (result != kIapOk) {
    return result;
  }
  // The loader's verdict is only this acknowledgement: none within the budget means a mismatch.
  return sender.send(buildExpectedCrcFrame(crc));
}

void UpdaterContext::setImage(const std::uint8_t* bytes, std::uint32_t length) {
  image_.reset();
  imageLength_ = 0;
  if (bytes == nullptr || length == 0) {
    return;
  }
  image_.reset(new (std::nothrow) std::uint8_t[length]);
  if (!image_) {
    return;
  }
  std::memcpy(image_.get(), bytes, length);
  imageLength_ = length;
}

bool UpdaterContext::holdsUsableImage() const {
  return image_ != nullptr && imageLength_ > kCrcStartOffset;
}

std::uint32_t UpdaterContext::imageFlashEnd() const {
  return imageLength_ + (kApplicationStart - 1);
}

IapResult UpdaterContext::sendHeaderOnly(std::uint32_t address, IapCommand code) {
  FrameSender sender(bus_, sleeper_, address, ackBudget);
  return sender.send(buildCommandHeader(code));
}

}  // namespace argb::iap
