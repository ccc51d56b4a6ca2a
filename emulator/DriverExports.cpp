// The library's only export. Every function it hands out forwards to one process-wide emulated
// driver, configured from the environment on the first query.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "emulator/EmulatedDriver.h"

// On Windows exports.def names the one export; elsewhere everything else is hidden.
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#define ARGB_EMULATOR_EXPORT
#else
#define ARGB_EMULATOR_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using argb::emulator::EmulatedDriver;
using argb::emulator::GpuHandle;
using argb::emulator::I2cRecordV3;

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::chrono::microseconds steadyNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

// The driver once made, for the unload's trace line: a library never used has no trace.
std::atomic<EmulatedDriver*> madeDriver{nullptr};

EmulatedDriver& driver() {
  static EmulatedDriver instance(argb::emulator::parseConfig(environment), steadyNow);
  madeDriver.store(&instance, std::memory_order_relaxed);
  return instance;
}

#if defined(_WIN32)
HINSTANCE libraryInstance = nullptr;
constexpr wchar_t kDriverWindowClass[] = L"argb-emulated-driver";
#endif

// A real driver may keep a window of its own on the thread that initialised it. This one is
// topmost, so that the thread lists it before the program's own windows.
void makeWindowIfAsked() {
#if defined(_WIN32)
  static bool made = false;
  if (made || environment("ARGB_EMU_WINDOW").value_or("") != "1") return;
  made = true;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = ::DefWindowProcW;
  windowClass.hInstance = libraryInstance;
  windowClass.lpszClassName = kDriverWindowClass;
  if (::RegisterClassExW(&windowClass) == 0) return;
  ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kDriverWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                    nullptr, nullptr, libraryInstance, nullptr);
#endif
}

// A real display driver may load a helper of its own by its bare name: which copy comes depends on
// the process's library search, so the tests have the emulated driver do the same. False when a
// helper was asked for and not found.
bool loadHelperByName() {
#if defined(_WIN32)
  const auto name = environment("ARGB_EMU_LOAD_BY_NAME");
  if (name && !name->empty()) return ::LoadLibraryA(name->c_str()) != nullptr;
#endif
  return true;
}

// NVAPI_LIBRARY_NOT_FOUND: what a driver that cannot load a component of its own answers.
constexpr std::int32_t kHelperNotFound = -2;

std::int32_t initialize() {
  makeWindowIfAsked();
  if (!loadHelperByName() && environment("ARGB_EMU_LOAD_BY_NAME_NEEDED").value_or("") == "1")
    return kHelperNotFound;
  return driver().initialize();
}

std::int32_t enumPhysicalGpus(GpuHandle* handles, std::uint32_t* count) {
  return driver().enumPhysicalGpus(handles, count);
}

std::int32_t i2cWriteEx(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg) {
  return driver().i2cWrite(gpu, record, arg);
}

std::int32_t i2cReadEx(GpuHandle gpu, I2cRecordV3* record, std::uint32_t* arg) {
  return driver().i2cRead(gpu, record, arg);
}

void callBeginHook(std::uint32_t id, std::uint64_t* cookie) {
  driver().callBegin(id, cookie);
}

void callEndHook(std::uint32_t id, std::uint64_t cookie, std::int32_t status) {
  driver().callEnd(id, cookie, status);
}

template <typename Function>
void* address(Function* function) {
  return reinterpret_cast<void*>(function);
}

void* functionFor(std::uint32_t id) {
  namespace emu = argb::emulator;
  switch (id) {
    case emu::kIdInitialize:
      return address(&initialize);
    case emu::kIdEnumPhysicalGpus:
      return address(&enumPhysicalGpus);
    case emu::kIdI2cWriteEx:
      return address(&i2cWriteEx);
    case emu::kIdI2cReadEx:
      return address(&i2cReadEx);
    case emu::kIdCallBeginHook:
      return address(&callBeginHook);
    case emu::kIdCallEndHook:
      return address(&callEndHook);
    default:
      return nullptr;
  }
}

}  // namespace

extern "C" ARGB_EMULATOR_EXPORT void* nvapi_QueryInterface(std::uint32_t id) {
  return driver().offers(id) ? functionFor(id) : nullptr;
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) libraryInstance = instance;
  // Windows passes a non-null `reserved` when the process ends, which is not traced: the trace
  // then ends as the program's last call left it.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    if (EmulatedDriver* const made = madeDriver.load(std::memory_order_relaxed))
      made->libraryUnloaded();
  }
  return TRUE;
}
#endif
