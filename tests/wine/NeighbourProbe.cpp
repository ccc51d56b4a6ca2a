// Another process on the same machine as the updater: `neighbour-probe hold event|denied-mutex`
// holds the updater's lock name as an event, or as a mutex that no one may open, until killed.

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr wchar_t kLockName[] = L"Global\\argb-fw-updater";

int hold(const wchar_t* kind) {
  HANDLE held = nullptr;
  if (std::wcscmp(kind, L"event") == 0) {
    held = CreateEventW(nullptr, TRUE, FALSE, kLockName);
  } else {
    // An empty access list grants nothing to anyone, as a mutex made by a run with other rights.
    ACL emptyList;
    InitializeAcl(&emptyList, sizeof emptyList, ACL_REVISION);
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyList, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    held = CreateMutexW(&attributes, TRUE, kLockName);
  }
  if (held == nullptr) return 1;
  std::printf("holding\n");
  std::fflush(stdout);
  Sleep(INFINITE);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0) return hold(argv[2]);
  return 2;
}
