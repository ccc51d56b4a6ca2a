// Measures on a Windows PC what only Windows shows of the updater's platform code, and reports it
// on the console and as JSON beside the program. It never loads the display driver.

#include <cstdio>
#include <string>
#include <string_view>

#include "app/ProgramVersion.h"
#include "driver/TrustedLibraryLoader.h"
#include "field-check/RunLockRules.h"
#include "field-check/windows/ConsoleProbes.h"
#include "field-check/windows/LibraryProbes.h"
#include "field-check/windows/PauseProbe.h"
#include "field-check/windows/ProcessProbes.h"
#include "field-check/windows/Text.h"
#include "field-check/windows/WritePhaseProbe.h"
#include "platform/LibrarySearch.h"
#include "platform/windows/WindowsConsole.h"
#include "platform/windows/WindowsHeaders.h"
#include "platform/windows/WindowsOsServices.h"

namespace {

using namespace argb;
using namespace argb::fieldcheck;

constexpr wchar_t kJsonName[] = L"argb-field-check.json";
constexpr DWORD kLongestPath = 32768;

std::wstring programPath() {
  std::wstring path(kLongestPath, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), kLongestPath));
  return path;
}

class Reporter {
 public:
  explicit Reporter(platform::Console& console) : console_(console) {}
  void add(CheckResult result) {
    console_.writeFormatted(consoleFromUtf8(reportLine(result)) + "\n");
    report_.push_back(std::move(result));
  }
  void add(const Report& results) {
    for (const CheckResult& result : results) add(result);
  }
  const Report& report() const { return report_; }

 private:
  platform::Console& console_;
  Report report_;
};

bool writeFile(const std::wstring& path, const std::string& text) {
  std::FILE* file = ::_wfopen(path.c_str(), L"wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  // First, as in the updater: the DLL search check measures this setting.
  const platform::LibrarySearchSetting search = platform::restrictProcessLibrarySearch();
  if (argc > 1 && std::string_view(argv[1]) == kRunLockProbeArgument) return runLockProbe();

  platform::WindowsConsole console;
  platform::WindowsOsServices os;
  driver::TrustedLibraryLoader loader(os);
  const std::wstring program = programPath();
  const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));

  console.writeFormatted("ARGB field check " ARGB_PROGRAM_VERSION "\n");
  Reporter reporter(console);
  reporter.add(checkWindowsVersion());
  reporter.add(checkElevation());
  reporter.add(checkMitigations());
  reporter.add(checkKnownDlls());
  reporter.add(checkLibrarySearch(search, folder));
  reporter.add(checkRunLock(program));
  reporter.add(measurePauses(loader));
  reporter.add(checkCodePage());
  reporter.add(checkKeys(console));
  // Last: the write phase swallows Ctrl+C until the process ends, as in the updater.
  reporter.add(checkWritePhase(loader));
  console.writeFormatted(summaryLine(reporter.report()) + "\n");

  const std::wstring jsonPath = folder + L"\\" + kJsonName;
  if (writeFile(jsonPath, reportJson(reporter.report()))) {
    console.writeFormatted(consoleFromUtf8("Report written to " + utf8(jsonPath)) + "\n");
  } else {
    console.writeFormatted(consoleFromUtf8("Cannot write " + utf8(jsonPath)) + "\n");
  }
  return exitCode(reporter.report());
}
