#include "field-check/windows/DriverProbe.h"

#include <string>
#include <vector>

#include "driver/DriverFront.h"
#include "field-check/DriverRules.h"
#include "field-check/windows/Text.h"
#include "platform/windows/WindowsErrorText.h"
#include "platform/windows/WindowsHeaders.h"

// After windows.h, whose types it uses.
#include <tlhelp32.h>

namespace argb::fieldcheck {
namespace {

// The paths of the modules now loaded in this process.
std::vector<std::string> loadedModules() {
  std::vector<std::string> paths;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, ::GetCurrentProcessId());
  if (snapshot == INVALID_HANDLE_VALUE) return paths;
  MODULEENTRY32W module{};
  module.dwSize = sizeof module;
  for (BOOL more = ::Module32FirstW(snapshot, &module); more;
       more = ::Module32NextW(snapshot, &module))
    paths.push_back(utf8(module.szExePath));
  ::CloseHandle(snapshot);
  return paths;
}

std::wstring systemDirectory() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length < MAX_PATH ? length : 0);
}

std::wstring driverPath() {
  return systemDirectory() + L"\\" + reinterpret_cast<const wchar_t*>(driver::kDriverLibraryName);
}

}  // namespace

bool driverLoaded() {
  return ::GetModuleHandleW(driverPath().c_str()) != nullptr;
}

CheckResult checkDriver(driver::DriverFront& front) {
  DriverFacts facts;
  facts.inSystemDirectory = ::GetFileAttributesW(driverPath().c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!facts.inSystemDirectory) return judgeDriver(facts);

  const std::vector<std::string> before = loadedModules();
  facts.initStatus = front.NvAPI_Initialize();
  // As the front saw it at the failing step: after the library is freed the thread's is another.
  facts.initError = front.failureError();
  if (facts.initStatus == driver::kNvApiOk) {
    driver::GpuHandle handles[driver::kMaxPhysicalGpus] = {};
    std::uint32_t count = 0;
    facts.enumStatus = front.NvAPI_EnumPhysicalGPUs(handles, &count);
    facts.gpuCount = count;
  } else if (facts.initError != ERROR_SUCCESS) {
    facts.initErrorText = utf8FromConsole(platform::errorText(facts.initError));
  }
  facts.loadedOutside = modulesAddedOutside(before, loadedModules(), utf8(systemDirectory()));
  // The front keeps a driver that initialised for the process's life, as in the updater.
  return judgeDriver(facts);
}

}  // namespace argb::fieldcheck
