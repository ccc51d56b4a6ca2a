// Another process on the machine: `neighbour-probe hold event|denied-mutex` holds the updater's
// lock name as an event, or as a mutex that no one may open (an empty access list, as one made by a
// run with other rights looks to this one), until it is killed. `neighbour-probe console-mode
// <hex>` leaves the console's input in that mode, as a program before the updater may.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  constexpr wchar_t kLockName[] = L"Global\\argb-fw-updater";
  if (argc != 3) return 2;
  if (std::wcscmp(argv[1], L"console-mode") == 0) {
    const HANDLE input =
        CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    return SetConsoleMode(input, std::wcstoul(argv[2], nullptr, 16)) ? 0 : 1;
  }
  ACL emptyList;
  InitializeAcl(&emptyList, sizeof emptyList, ACL_REVISION);
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE);
  SECURITY_ATTRIBUTES denied{sizeof denied, &descriptor, FALSE};
  const HANDLE held = std::wcscmp(argv[2], L"event") == 0
                          ? CreateEventW(nullptr, TRUE, FALSE, kLockName)
                          : CreateMutexW(&denied, TRUE, kLockName);
  if (held == nullptr) return 1;
  std::printf("holding\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}
