#include "field-check/windows/LibraryProbes.h"

#include <optional>
#include <vector>

#include "field-check/SystemRules.h"
#include "field-check/windows/Text.h"
#include "field-check/windows/UpdaterImports.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::fieldcheck {
namespace {

constexpr wchar_t kKnownDllsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs";
constexpr DWORD kLongestName = 256;

std::optional<std::vector<std::string>> knownDlls() {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKnownDllsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[kLongestName];
    DWORD valueNameLength = kLongestName;
    wchar_t data[kLongestName] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegEnumValueW(key, index, valueName, &valueNameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    // Each value's data is a library's file name; the key also holds the folder they come from.
    if (status == ERROR_SUCCESS && type == REG_SZ) names.push_back(utf8(data));
  }
  ::RegCloseKey(key);
  return names;
}

}  // namespace

CheckResult checkLibrarySearch(const platform::LibrarySearchSetting& setting,
                               const std::wstring& programFolder) {
  const std::wstring marker = wide(kMarkerLibraryName, CP_UTF8);
  LibrarySearchFacts facts{
      ::GetFileAttributesW((programFolder + L"\\" + marker).c_str()) != INVALID_FILE_ATTRIBUTES,
      setting, std::nullopt};
  if (const HMODULE loaded = ::LoadLibraryW(marker.c_str())) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(loaded, path, MAX_PATH);
    facts.loadedFrom = utf8(path);
    ::FreeLibrary(loaded);
  }
  return judgeLibrarySearch(facts);
}

CheckResult checkKnownDlls() {
  return judgeKnownDlls({std::begin(kUpdaterImports), std::end(kUpdaterImports)}, knownDlls());
}

}  // namespace argb::fieldcheck
