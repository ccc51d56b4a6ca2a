#include "emulator/tool/StateReport.h"

#include <cstdio>

#include "emulator/Crc16.h"
#include "emulator/ImageArea.h"

namespace argb::tools {

namespace {

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

}  // namespace

std::vector<std::string> describeState(const emulator::DeviceState& state) {
  using namespace emulator;
  std::vector<std::string> lines;
  DeviceState booted = state;
  booted.powerOn();
  const ImageCheck check = checkImage(state.flash);
  const InformationBlock& block = check.block;
  lines.push_back("mode: " + std::string(modeName(state.mode)));
  lines.push_back("version: " + formatVersion(state.version));
  lines.push_back("application area " + hex(kApplicationStart) + ".." + hex(kApplicationEnd) +
                  ": CRC " + hex(crc16(state.flash.range(kApplicationStart, kApplicationEnd))));
  lines.push_back("information block: crc " + hex(block.crc) + ", marker " + hex(block.marker) +
                  ", length " + std::to_string(block.length));
  if (check.verifiedEnd != 0) {
    lines.push_back("image " + hex(kVerifiedStart) + ".." + hex(check.verifiedEnd) + ": CRC " +
                    hex(check.actualCrc));
  }
  lines.push_back(check.valid ? std::string("image: valid") : "image: not valid, " + check.problem);
  lines.push_back("at power-on: " + std::string(modeName(booted.mode)));
  return lines;
}

}  // namespace argb::tools
