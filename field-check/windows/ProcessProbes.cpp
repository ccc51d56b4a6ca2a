#include "field-check/windows/ProcessProbes.h"

#include <optional>

#include "field-check/RunLockRules.h"
#include "field-check/SystemRules.h"
#include "field-check/windows/Text.h"
#include "platform/windows/SystemFunction.h"
#include "platform/windows/WindowsErrorText.h"
#include "platform/windows/WindowsHeaders.h"
#include "platform/windows/WindowsRunLock.h"

namespace argb::fieldcheck {
namespace {

// PROCESS_MITIGATION_POLICY values and their flag bits, fixed by Windows 8's headers.
constexpr int kDepPolicy = 0;
constexpr int kAslrPolicy = 1;
constexpr DWORD kDepEnabled = 0x1;
constexpr DWORD kAslrBottomUp = 0x1;
constexpr DWORD kAslrHighEntropy = 0x4;

DWORD WINAPI tryLockAgain(void* context) {
  platform::WindowsRunLock lock;
  static_cast<RunLockFacts*>(context)->second = lock.take().outcome;
  return 0;
}

}  // namespace

CheckResult checkWindowsVersion() {
  // GetVersionEx answers as the manifest's newest listed Windows; RtlGetVersion tells the truth.
  const auto getVersion =
      platform::loadedSystemFunction<LONG WINAPI(OSVERSIONINFOW*)>(L"ntdll.dll", "RtlGetVersion");
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (getVersion == nullptr || getVersion(&info) != 0) return judgeWindowsVersion({});
  return judgeWindowsVersion({info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber});
}

CheckResult checkElevation() {
  HANDLE token = nullptr;
  std::optional<bool> elevated;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
      elevated = elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
  }
  return judgeElevation(elevated);
}

CheckResult checkMitigations() {
  const auto getPolicy = platform::loadedSystemFunction<BOOL WINAPI(HANDLE, int, void*, SIZE_T)>(
      L"kernel32.dll", "GetProcessMitigationPolicy");
  MitigationFacts facts;
  if (getPolicy != nullptr) {
    facts.available = true;
    struct {
      DWORD flags;
      BOOLEAN permanent;
    } dep{};
    DWORD aslr = 0;
    facts.dep = getPolicy(::GetCurrentProcess(), kDepPolicy, &dep, sizeof dep) &&
                (dep.flags & kDepEnabled) != 0;
    if (getPolicy(::GetCurrentProcess(), kAslrPolicy, &aslr, sizeof aslr)) {
      facts.bottomUpRandomization = (aslr & kAslrBottomUp) != 0;
      facts.highEntropy = (aslr & kAslrHighEntropy) != 0;
    }
  }
  return judgeMitigations(facts);
}

CheckResult checkRunLock() {
  platform::WindowsRunLock lock;
  RunLockFacts facts;
  facts.own = lock.take();
  facts.own.cause = utf8FromConsole(facts.own.cause);
  // The mutex belongs to this thread once taken: another thread meets it as another run would.
  const HANDLE second = ::CreateThread(nullptr, 0, tryLockAgain, &facts, 0, nullptr);
  if (second == nullptr) {
    facts.secondError = utf8FromConsole(platform::errorText(::GetLastError()));
  } else {
    ::WaitForSingleObject(second, INFINITE);
    ::CloseHandle(second);
  }
  return judgeRunLock(facts);
}

}  // namespace argb::fieldcheck
