// Runs the program's own stack protector: "guard" prints the guard as seeded for this process;
// "stack" and "buffer" write past a local buffer, behind the stack guard's back and through a
// fortified call, and print "survived" only if nothing stopped them.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" std::uintptr_t __stack_chk_guard;

namespace {

constexpr std::size_t kBufferSize = 8;

__attribute__((noinline)) void overrunStack(std::size_t length) {
  char buffer[kBufferSize];
  // Through a pointer the optimiser cannot follow, which would otherwise stop at the bound.
  volatile char* volatile target = buffer;
  for (std::size_t i = 0; i < length; ++i) target[i] = 'x';
}

__attribute__((noinline)) void overrunFortified(const char* text, std::size_t length) {
  char buffer[kBufferSize];
  std::memcpy(buffer, text, length);
  std::printf("%c\n", buffer[0]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  // From the command line, so the compiler cannot see the overrun coming.
  const std::size_t length = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64;
  if (std::strcmp(argv[1], "guard") == 0) {
    std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
  }
  if (std::strcmp(argv[1], "stack") == 0) overrunStack(length);
  if (std::strcmp(argv[1], "buffer") == 0) {
    static const char kText[256] = {'y'};
    overrunFortified(kText, length);
  }
  std::printf("survived\n");
  return 0;
}
