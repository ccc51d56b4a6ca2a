#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "field-check/CheckResult.h"

namespace argb::fieldcheck {

// How long the check waits for each key before it gives the key checks up as N/A.
constexpr std::uint32_t kKeyWaitMs = 10000;

// The console's output code page and a system error text as the updater shows it, converted back:
// `roundTrips` when the text came back whole (no character lost to the code page).
CheckResult judgeCodePage(std::uint32_t codePage, const std::string& errorText, bool roundTrips);

// One key press as the updater reads it: the code readKey() gave and whether another code was
// still waiting right after.
struct KeyRead {
  int code = 0;
  bool anotherCodeWaiting = false;
};

// An arrow key: nullopt when no key was pressed in time.
CheckResult judgeArrowKey(const std::optional<KeyRead>& read);
// 'à' in the console's input code page: `expectedCode` is nullopt where the page has no 'à'.
CheckResult judgeAGraveKey(std::optional<int> expectedCode, const std::optional<KeyRead>& read);

}  // namespace argb::fieldcheck
