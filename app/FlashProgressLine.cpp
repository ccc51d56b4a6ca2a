#include "app/FlashProgressLine.h"

#include <cstdio>
#include <string>

namespace argb::app {
namespace {

constexpr std::uint32_t kPercent = 100;

// "\r  block 12 of 81 (14%)": back to the line's start, then the text.
std::string progressText(std::uint32_t blocksDone, std::uint32_t blocksInAll) {
  char text[64];
  const unsigned percent =
      static_cast<unsigned>(static_cast<std::uint64_t>(blocksDone) * kPercent / blocksInAll);
  const int length =
      std::snprintf(text, sizeof text, "\r  block %u of %u (%u%%)",
                    static_cast<unsigned>(blocksDone), static_cast<unsigned>(blocksInAll), percent);
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

FlashProgressLine::FlashProgressLine(platform::Console& console)
    : console_(console), interactive_(console.outputIsInteractive()) {}

void FlashProgressLine::blockAcknowledged(std::uint32_t blocksDone, std::uint32_t blocksInAll) {
  if (!interactive_ || blocksInAll == 0) return;
  longest_ = progressText(blocksInAll, blocksInAll).size() - 1;
  console_.writeStream(progressText(blocksDone, blocksInAll));
  shown_ = true;
}

void FlashProgressLine::erase() {
  if (!shown_) return;
  std::string blanks(longest_ + 2, ' ');
  blanks.front() = '\r';
  blanks.back() = '\r';
  console_.writeStream(blanks);
  shown_ = false;
}

}  // namespace argb::app
