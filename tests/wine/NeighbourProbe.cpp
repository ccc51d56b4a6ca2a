// Another process on the machine: `neighbour-probe hold event|denied-mutex` holds the updater's
// lock name as an event, or as a mutex that no one may open (an empty access list, as one made by a
// run with other rights looks to this one), until it is killed.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  constexpr wchar_t kLockName[] = L"Global\\argb-fw-updater";
  if (argc != 3) return 2;
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
