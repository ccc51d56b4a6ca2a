// Measures on a Windows PC what only Windows shows of the updater's platform code and of the
// display driver under the updater's DLL search, and reports it on the console and as JSON beside
// the program. It never resolves or calls an I2C function of the driver.

#include <string>

#include "app/ConsoleTexts.h"
#include "app/ProgramVersion.h"
#include "driver/DriverFront.h"
#include "driver/TrustedLibraryLoader.h"
#include "field-check/windows/ConsoleProbes.h"
#include "field-check/windows/DriverProbe.h"
#include "field-check/windows/LibraryProbes.h"
#include "field-check/windows/PauseProbe.h"
#include "field-check/windows/ProcessProbes.h"
#include "field-check/windows/ReportFile.h"
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

void writeReport(platform::Console& console, const std::wstring& path, const Report& report) {
  const std::string name = utf8(path);
  console.writeFormatted(consoleFromUtf8(writeReportFile(path, reportJson(report))
                                             ? "Report written to " + name
                                             : "Cannot write " + name) +
                         "\n");
}

}  // namespace

int main() {
  // First, as in the updater: the DLL search and driver checks measure this setting.
  const platform::LibrarySearchSetting search = platform::restrictProcessLibrarySearch();

  platform::WindowsConsole console;
  platform::WindowsOsServices os;
  driver::TrustedLibraryLoader loader(os);
  // One front for the process, as in the updater: a driver that initialised stays loaded to the
  // end.
  driver::DriverFront driverFront(os, loader);
  const std::wstring program = programPath();
  const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
  PauseProbe pauses(loader);

  console.writeFormatted("ARGB field check " ARGB_PROGRAM_VERSION "\n");
  Reporter reporter(console);
  reporter.add(checkWindowsVersion());
  reporter.add(checkElevation());
  reporter.add(checkMitigations());
  reporter.add(checkKnownDlls());
  reporter.add(checkLibrarySearch(search, folder));
  reporter.add(checkRunLock());
  reporter.add(checkDriver(driverFront));
  reporter.add(pauses.measure(PausePhase::kBeforeWritePhase));
  reporter.add(checkCodePage());
  reporter.add(checkKeys(console));
  // Last: the write phase swallows Ctrl+C until the process ends, as in the updater.
  reporter.add(checkWritePhase(loader, pauses));
  const std::wstring jsonPath = folder + L"\\" + kJsonName;
  // Written before the restart check too: a restart that goes through still leaves this report.
  writeReport(console, jsonPath, reporter.report());

  reporter.add(checkRestart(console, loader));
  console.writeFormatted(summaryLine(reporter.report()) + "\n");
  writeReport(console, jsonPath, reporter.report());
  // Started from Explorer, the window would close with the verdicts in it.
  app::keepEndingReadable(console);
  return exitCode(reporter.report());
}
