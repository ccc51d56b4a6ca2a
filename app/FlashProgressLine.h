#pragma once

#include <cstddef>
#include <cstdint>

#include "iap/FlashProgress.h"
#include "platform/Console.h"

namespace argb::app {

// The progress of the image's blocks on the line after "Flash FW", rewritten in place. Shown only
// on a console or terminal, so that redirected output stays as it was; erased before the next text
// of the sequence, so the screen ends as if it had never been there.
class FlashProgressLine final : public iap::FlashProgress {
 public:
  explicit FlashProgressLine(platform::Console& console);

  void blockAcknowledged(std::uint32_t blocksDone, std::uint32_t blocksInAll) override;
  // Blanks the line and returns to its start; nothing when nothing was shown.
  void erase();

 private:
  platform::Console& console_;
  bool shown_ = false;
  bool interactive_;
  // Length of the longest text of this image, the one of its last block.
  std::size_t longest_ = 0;
};

}  // namespace argb::app
