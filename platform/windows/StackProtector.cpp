// The stack protector's runtime for the Windows programs, in place of the compiler's libssp. That
// one seeds its guard with CryptGenRandom from a constructor: the program would import advapi32,
// and advapi32 would load its crypto providers by name before main has taken the program's folder
// out of the library search. The guard is seeded instead as Windows' own compilers seed theirs,
// from values that differ between processes and from the image's randomised address.
//
// Built without the stack protector: the seeding function's own frame spans the guard's change.

#include <cstdint>

#include "platform/windows/WindowsHeaders.h"

namespace {

// Raised by a failed check where the processor and Windows (8 and later) offer a fast failure.
constexpr DWORD kProcessorFeatureFastFail = 23;  // PF_FASTFAIL_AVAILABLE
constexpr unsigned kFastFailStackCookie = 2;     // FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
constexpr unsigned kFastFailRangeCheck = 8;      // FAST_FAIL_RANGE_CHECK_FAILURE
// The exit status Windows gives a process that ended on a broken stack guard, before Windows 8.
constexpr UINT kStatusStackBufferOverrun = 0xC0000409;

[[noreturn]] void failFast(unsigned code, const char* text, DWORD length) {
  // Nothing of the process is trusted any more: no handlers, no unwinding, no C runtime.
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
  if (::IsProcessorFeaturePresent(kProcessorFeatureFastFail))
    __asm__ __volatile__("int $0x29" : : "c"(code) : "memory");
  ::TerminateProcess(::GetCurrentProcess(), kStatusStackBufferOverrun);
  __builtin_unreachable();
}

std::uint64_t mixed(std::uint64_t value) {
  // A 64-bit finaliser, so that every input bit reaches every guard bit.
  value ^= value >> 30;
  value *= 0xBF58476D1CE4E5B9u;
  value ^= value >> 27;
  value *= 0x94D049BB133111EBu;
  return value ^ (value >> 31);
}

}  // namespace

extern "C" {

// Stored by every protected function on entry and compared on return.
std::uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail() {
  static constexpr char kText[] = "*** stack smashing detected ***: terminated\n";
  failFast(kFastFailStackCookie, kText, sizeof(kText) - 1);
}

[[noreturn]] void __stack_chk_fail_local() {
  __stack_chk_fail();
}

// A fortified C library call found its buffer too small.
[[noreturn]] void __chk_fail() {
  static constexpr char kText[] = "*** buffer overflow detected ***: terminated\n";
  failFast(kFastFailRangeCheck, kText, sizeof(kText) - 1);
}

}  // extern "C"

namespace {

// Before main and before any constructor of the program's own (lower numbers run first).
__attribute__((constructor(101))) void seedStackGuard() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  std::uint64_t seed = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  seed = mixed(seed ^ static_cast<std::uint64_t>(counter.QuadPart));
  seed = mixed(seed ^ (std::uint64_t{::GetCurrentProcessId()} << 32) ^ ::GetCurrentThreadId());
  seed = mixed(seed ^ ::GetTickCount64() ^ reinterpret_cast<std::uintptr_t>(&__stack_chk_guard));
  // A zero low byte ends a string copy that runs over the guard before it can rewrite it.
  __stack_chk_guard = static_cast<std::uintptr_t>(seed & ~std::uint64_t{0xFF});
}

}  // namespace
