#pragma once

#include <cstdint>

namespace argb::iap {

// Told by iapFlash after each data block the loader has acknowledged, so that whoever runs the
// update can show how far the image has got without the IAP client knowing about any console.
class FlashProgress {
 public:
  virtual ~FlashProgress() = default;
  virtual void blockAcknowledged(std::uint32_t blocksDone, std::uint32_t blocksInAll) = 0;
};

}  // namespace argb::iap
