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

}  // namespace

CheckResult checkDriver(platform::OsServices& os, driver::TrustedLibraryLoader& loader) {
  const std::wstring system = systemDirectory();
  const std::wstring library =
      system + L"\\" + reinterpret_cast<const wchar_t*>(driver::kDriverLibraryName);
  DriverFacts facts;
  facts.inSystemDirectory = ::GetFileAttributesW(library.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!facts.inSystemDirectory) return judgeDriver(facts);

  const std::vector<std::string> before = loadedModules();
  driver::DriverFront front(os, loader);
  ::SetLastError(ERROR_SUCCESS);
  facts.initStatus = front.NvAPI_Initialize();
  facts.initError = ::GetLastError();
  if (facts.initStatus == driver::kNvApiOk) {
    driver::GpuHandle handles[driver::kMaxPhysicalGpus] = {};
    std::uint32_t count = 0;
    facts.enumStatus = front.NvAPI_EnumPhysicalGPUs(handles, &count);
    facts.gpuCount = count;
  } else if (facts.initError != ERROR_SUCCESS) {
    facts.initErrorText = utf8FromConsole(platform::errorText(facts.initError));
  }
  facts.loadedOutside = modulesAddedOutside(before, loadedModules(), utf8(system));
  // The front keeps the driver for the process's life; the check gives back the front's one load.
  if (front.isLoaded()) {
    if (const HMODULE module = ::GetModuleHandleW(library.c_str())) ::FreeLibrary(module);
  }
  return judgeDriver(facts);
}

}  // namespace argb::fieldcheck
