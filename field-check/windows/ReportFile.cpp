#include "field-check/windows/ReportFile.h"

#include <vector>

#include "platform/windows/WindowsHeaders.h"

namespace argb::fieldcheck {
namespace {

// FILE_RENAME_INFO ends in the new name, which it does not terminate.
bool renameOver(HANDLE file, const std::wstring& path) {
  const std::size_t nameBytes = path.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  path.copy(rename->FileName, path.size());
  return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace

bool writeReportFile(const std::wstring& path, const std::string& text) {
  // A name of this run's own; one that exists already (planted) fails the write.
  const std::wstring fresh = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".new";
  const HANDLE file = ::CreateFileW(fresh.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool placed =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && renameOver(file, path);
  if (!placed) {
    // Through the handle, so it is this file that goes, whatever the name now holds.
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  }
  return ::CloseHandle(file) && placed;
}

}  // namespace argb::fieldcheck
