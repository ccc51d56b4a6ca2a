// The emulator's state file, as the emulated driver and argb-emu-tool read it. An input whose
// first byte is even stands for a file of the right size: the next 20 bytes its header, the rest
// repeated over the flash. Any other input is the file itself.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/DeviceStateFile.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tools/StateReport.h"

namespace {

std::vector<std::uint8_t> stateFile(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  if (size == 0 || data[0] % 2 != 0) return {data, data + size};
  std::vector<std::uint8_t> file(kStateFileLength, 0);
  const std::size_t header = std::min(size - 1, kStateFileHeaderLength);
  std::memcpy(file.data(), data + 1, header);
  const std::size_t rest = size - 1 - header;
  for (std::size_t at = 0; rest != 0 && at < kFlashSize; at += rest) {
    std::memcpy(&file[kStateFileHeaderLength + at], data + 1 + header,
                std::min(rest, kFlashSize - at));
  }
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace argb::emulator;
  using argb::fuzz::require;
  const std::vector<std::uint8_t> file = stateFile(data, size);
  const auto state = decodeDeviceState(file);
  if (!state && size > 0 && data[0] % 2 != 0) {
    // Read from disk, a file that is not a state file is refused with its name.
    static const std::string path = "/dev/shm/fuzz_state_file." + std::to_string(::getpid());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const StateFileLoad load = loadDeviceState(path);
    std::remove(path.c_str());
    require(!load.state && load.error.find(path) != std::string::npos, "a clear refusal");
  }
  if (!state) return 0;
  const auto again = decodeDeviceState(encodeDeviceState(*state));
  require(again && again->mode == state->mode && again->version == state->version &&
              again->flash == state->flash,
          "a state the emulator writes reads back the same");
  require(!argb::tools::describeState(*state).empty(), "the tool describes every state");
  return 0;
}
