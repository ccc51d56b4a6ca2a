#include "platform/windows/ConsoleDefaults.h"

#include <type_traits>

#include "platform/windows/SystemFunction.h"
#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

constexpr char16_t kRegistryLibrary[] = u"advapi32.dll";
constexpr wchar_t kConsoleKey[] = L"Console";
// Declared, never imported.
using GetValueFunction = decltype(&::RegGetValueW);

bool settingOn(GetValueFunction getValue, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (getValue(HKEY_CURRENT_USER, kConsoleKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return true;
  return value != 0;
}

}  // namespace

ConsoleEditDefaults readConsoleEditDefaults(SystemLibraryLoader* loader) {
  if (loader == nullptr) return {};
  const auto advapi32 = static_cast<HMODULE>(loader->loadSystemLibrary(kRegistryLibrary));
  if (advapi32 == nullptr) return {};
  ConsoleEditDefaults defaults;
  const auto getValue =
      exportedFunction<std::remove_pointer_t<GetValueFunction>>(advapi32, "RegGetValueW");
  if (getValue != nullptr)
    defaults = {settingOn(getValue, L"QuickEdit"), settingOn(getValue, L"InsertMode")};
  ::FreeLibrary(advapi32);
  return defaults;
}

}  // namespace argb::platform
