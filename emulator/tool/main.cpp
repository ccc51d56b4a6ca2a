// argb-emu-tool: reads what the emulated driver leaves behind.
//   argb-emu-tool state FILE   the saved device: mode, version, image area and its CRC
//   argb-emu-tool trace FILE   the trace as annotated protocol steps

#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "emulator/DeviceStateFile.h"
#include "emulator/tool/StateReport.h"
#include "emulator/tool/TraceAnnotator.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int showState(const std::string& path) {
  auto load = argb::emulator::loadDeviceState(path);
  if (!load.state) {
    std::cerr << (load.error.empty() ? "no such file: " + path : load.error) << '\n';
    return kExitFailed;
  }
  for (const auto& line : argb::tools::describeState(*load.state)) std::cout << line << '\n';
  return kExitOk;
}

int showTrace(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "cannot read " << path << '\n';
    return kExitFailed;
  }
  for (const auto& line : argb::tools::annotateTrace(in)) std::cout << line << '\n';
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "state") return showState(argv[2]);
  if (argc == 3 && std::string_view(argv[1]) == "trace") return showTrace(argv[2]);
  std::cerr << "usage: argb-emu-tool state FILE\n"
               "       argb-emu-tool trace FILE\n";
  return kExitUsage;
}
