// The emulator's state file, as the emulated driver and argb-emu-tool read it. An input whose
// first byte is even stands for a file of the right size: the next 20 bytes its header, the rest
// repeated over the flash. Any other input is the file itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/DeviceStateFile.h"
#include "emulator/tool/StateReport.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::vector<std::uint8_t> stateFile(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  if (size == 0 || data[0] % 2 != 0) return {data, data + size};
  std::vector<std::uint8_t> file(kStateFileLength, 0);
  const std::size_t header = std::min(size - 1, kStateFileHeaderLength);
  std::memcpy(file.data(), data + 1, header);
  // The pattern once, then doubled: a copy per repetition of a short pattern took most of a run.
  std::uint8_t* flash = &file[kStateFileHeaderLength];
  std::size_t filled = std::min<std::size_t>(size - 1 - header, kFlashSize);
  std::memcpy(flash, data + 1 + header, filled);
  for (; filled != 0 && filled < kFlashSize; filled *= 2)
    std::memcpy(flash + filled, flash, std::min<std::size_t>(filled, kFlashSize - filled));
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  using argb::fuzz::require;
  // In memory, through the reader the file path uses: a file per input would cost most of a run.
  static const std::string name = "fuzzed.state";
  const StateFileLoad load = readDeviceState(stateFile(data, size), name);
  require(load.state || load.error.find(name) != std::string::npos, "a clear refusal");
  if (!load.state) return 0;
  const DeviceState& state = *load.state;
  const auto again = decodeDeviceState(encodeDeviceState(state));
  require(again && again->mode == state.mode && again->version == state.version &&
              again->flash == state.flash,
          "a state the emulator writes reads back the same");
  require(!argb::tools::describeState(state).empty(), "the tool describes every state");
  return 0;
}
