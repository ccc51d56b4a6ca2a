#pragma once

#include <cstdint>
#include <optional>

namespace argb::platform {

// Bits of the console input's mode (GetConsoleMode, SetConsoleMode).
inline constexpr std::uint32_t kInsertMode = 0x20;
inline constexpr std::uint32_t kQuickEditMode = 0x40;
inline constexpr std::uint32_t kExtendedFlags = 0x80;
inline constexpr std::uint32_t kAutoPosition = 0x100;

// A menu item's state as EnableMenuItem takes and reports it; kMenuItemMissing is its answer when
// the item does not exist.
inline constexpr std::uint32_t kMenuItemGrayed = 0x1;
inline constexpr std::uint32_t kMenuItemDisabled = 0x2;
inline constexpr std::int32_t kMenuItemMissing = -1;

// What a console without settings of its own starts with: the user's defaults for every console
// window, each on where it is not set.
struct ConsoleEditDefaults {
  bool quickEdit = true;
  bool insertMode = true;
};

// The input mode that gives the console back as the write phase found it. A classic console
// reports QuickEdit and Insert mode only while its extended-flags state is on, and sets them only
// together with that bit; a mode saved without it says nothing of them, so they go back to the
// console's defaults (asked for only then) instead of staying off. AutoPosition, which every
// console window starts with and no setting turns off, goes back on.
template <typename ReadDefaults>
std::uint32_t inputModeToRestore(std::uint32_t saved, const ReadDefaults& readDefaults) {
  if ((saved & kExtendedFlags) != 0) return saved;
  const ConsoleEditDefaults defaults = readDefaults();
  return (saved & ~(kQuickEditMode | kInsertMode)) | kExtendedFlags | kAutoPosition |
         (defaults.quickEdit ? kQuickEditMode : 0) | (defaults.insertMode ? kInsertMode : 0);
}

// The state the window's Close item goes back to, from what EnableMenuItem reported when the write
// phase greyed it: nothing when there was no item to grey.
constexpr std::optional<std::uint32_t> closeItemStateToRestore(std::int32_t reported) {
  if (reported == kMenuItemMissing) return std::nullopt;
  return static_cast<std::uint32_t>(reported) & (kMenuItemGrayed | kMenuItemDisabled);
}

// The Close item across the write phase: greyed at its start, and at its end given back in the
// state it was found in, which may have been greyed or disabled by someone else. `enableItem` is
// EnableMenuItem on the item by command: it takes a state and answers the one before, or
// kMenuItemMissing.
class CloseItemHold {
 public:
  template <typename EnableItem>
  void hold(const EnableItem& enableItem) {
    found_ = closeItemStateToRestore(enableItem(kMenuItemGrayed));
  }
  template <typename EnableItem>
  void release(const EnableItem& enableItem) {
    if (found_) enableItem(*found_);
    found_.reset();
  }

 private:
  std::optional<std::uint32_t> found_;
};

}  // namespace argb::platform
