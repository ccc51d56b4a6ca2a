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

// The child ends at once; a minute means it hangs.
constexpr DWORD kChildTimeoutMs = 60000;
// PROCESS_MITIGATION_POLICY values and their flag bits, fixed by Windows 8's headers.
constexpr int kDepPolicy = 0;
constexpr int kAslrPolicy = 1;
constexpr DWORD kDepEnabled = 0x1;
constexpr DWORD kAslrBottomUp = 0x1;
constexpr DWORD kAslrHighEntropy = 0x4;

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

CheckResult checkRunLock(const std::wstring& programPath) {
  platform::WindowsRunLock lock;
  RunLockFacts facts;
  facts.own = lock.take();
  facts.own.cause = utf8FromConsole(facts.own.cause);
  std::wstring commandLine = L"\"" + programPath + L"\" " + wide(kRunLockProbeArgument, CP_UTF8);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!::CreateProcessW(programPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &child)) {
    facts.childError = utf8FromConsole(platform::errorText(::GetLastError()));
    return judgeRunLock(facts);
  }
  DWORD exitCode = 0;
  if (::WaitForSingleObject(child.hProcess, kChildTimeoutMs) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(child.hProcess, &exitCode)) {
    facts.childExitCode = exitCode;
  } else {
    ::TerminateProcess(child.hProcess, 1);
    facts.childError = "it did not end within a minute";
  }
  ::CloseHandle(child.hThread);
  ::CloseHandle(child.hProcess);
  return judgeRunLock(facts);
}

int runLockProbe() {
  platform::WindowsRunLock lock;
  return runLockProbeExitCode(lock.take().outcome);
}

}  // namespace argb::fieldcheck
