#pragma once

#include <cstdint>

#include "iap/UpdaterContext.h"
#include "platform/Console.h"
#include "platform/Sleeper.h"
#include "platform/WritePhaseGuard.h"

namespace argb::app {

// What runs on the controller when the update starts.
enum class ControllerMode {
  kApplication,  // its application answered the version query
  kLoader,       // only its IAP loader answers: an earlier update did not finish
};

// One firmware update of the controller, from the switch into its loader to the final start.
class UpdateSequence {
 public:
  // The loader needs this long after the start command before it takes the erase.
  static constexpr std::uint32_t kPauseBeforeEraseMs = 200;

  UpdateSequence(platform::Console& console, platform::Sleeper& sleeper,
                 platform::WritePhaseGuard& guard, iap::UpdaterContext& context,
                 const std::uint8_t* image, std::uint32_t imageLength)
      : console_(console),
        sleeper_(sleeper),
        guard_(guard),
        context_(context),
        image_(image),
        imageLength_(imageLength) {}

  // The process exit code: 0 after a successful update, -1 after the first failed step.
  int run(ControllerMode mode = ControllerMode::kApplication);

 private:
  iap::IapResult switchToLoader(ControllerMode mode);
  iap::IapResult flashWithProgress();
  int stop(iap::IapResult result);

  platform::Console& console_;
  platform::Sleeper& sleeper_;
  platform::WritePhaseGuard& guard_;
  iap::UpdaterContext& context_;
  const std::uint8_t* image_;
  std::uint32_t imageLength_;
};

}  // namespace argb::app
