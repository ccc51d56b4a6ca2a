#include "platform/windows/WindowsOsServices.h"

#include <new>

#include "platform/windows/WindowsHeaders.h"

namespace argb::platform {
namespace {

// The interface's UTF-16 text is the system's wide text.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(CriticalSection::storage));
static_assert(alignof(CRITICAL_SECTION) <= alignof(CriticalSection));

CRITICAL_SECTION* criticalSectionIn(CriticalSection& section) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(section.storage));
}

const wchar_t* wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* wide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}

}  // namespace

ModuleHandle WindowsOsServices::loadLibraryEx(const char16_t* fileName, std::uint32_t flags) {
  return ::LoadLibraryExW(wide(fileName), nullptr, flags);
}

bool WindowsOsServices::freeLibrary(ModuleHandle module) {
  return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

ProcAddress WindowsOsServices::getProcAddress(ModuleHandle module, const char* exportName) {
  return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), exportName));
}

std::uint32_t WindowsOsServices::getSystemDirectory(char16_t* buffer, std::uint32_t bufferSize) {
  return ::GetSystemDirectoryW(wide(buffer), bufferSize);
}

std::uint32_t WindowsOsServices::getModuleFileName(char* buffer, std::uint32_t bufferSize) {
  return ::GetModuleFileNameA(nullptr, buffer, bufferSize);
}

bool WindowsOsServices::isBuildNumberAtLeast(std::uint32_t buildNumber) {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwBuildNumber = buildNumber;
  const DWORDLONG condition = ::VerSetConditionMask(0, VER_BUILDNUMBER, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&version, VER_BUILDNUMBER, condition) != FALSE;
}

void* WindowsOsServices::localAlloc(std::size_t bytes) {
  return ::LocalAlloc(LMEM_ZEROINIT, bytes);
}

void WindowsOsServices::localFree(void* block) {
  ::LocalFree(block);
}

std::uint32_t WindowsOsServices::getLastError() {
  return ::GetLastError();
}

void WindowsOsServices::setLastError(std::uint32_t error) {
  ::SetLastError(error);
}

// The critical section is never deleted: it lives as long as the storage it was placed in.
void WindowsOsServices::initializeCriticalSection(CriticalSection& section) {
  ::InitializeCriticalSection(new (section.storage) CRITICAL_SECTION{});
}

void WindowsOsServices::enterCriticalSection(CriticalSection& section) {
  ::EnterCriticalSection(criticalSectionIn(section));
}

void WindowsOsServices::leaveCriticalSection(CriticalSection& section) {
  ::LeaveCriticalSection(criticalSectionIn(section));
}

}  // namespace argb::platform
