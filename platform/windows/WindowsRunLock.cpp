#include "platform/windows/WindowsRunLock.h"

#include <string>

#include "platform/windows/WindowsErrorText.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

constexpr wchar_t kMutexName[] = L"Global\\argb-fw-updater";
constexpr char kMutexNameText[] = "Global\\argb-fw-updater";

}  // namespace

WindowsRunLock::~WindowsRunLock() {
  if (mutex_ == nullptr) return;
  if (owned_) ::ReleaseMutex(mutex_);
  ::CloseHandle(mutex_);
}

RunLock::Result WindowsRunLock::take() {
  if (owned_) return {Outcome::kTaken, {}};
  if (mutex_ == nullptr) {
    mutex_ = ::CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex_ == nullptr) {
      const DWORD error = ::GetLastError();
      // The mutex exists and was made by a run with other rights (an elevated one, another user's):
      // that is another update.
      if (error == ERROR_ACCESS_DENIED) return {Outcome::kHeldByAnotherRun, {}};
      return {Outcome::kFailed, std::string(kMutexNameText) + ": " + errorText(error)};
    }
  }
  switch (::WaitForSingleObject(mutex_, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its last owner died: the update it ran is over
      owned_ = true;
      return {Outcome::kTaken, {}};
    case WAIT_TIMEOUT:
      return {Outcome::kHeldByAnotherRun, {}};
    default:
      return {Outcome::kFailed, std::string(kMutexNameText) + ": " + errorText(::GetLastError())};
  }
}

}  // namespace argb::platform
