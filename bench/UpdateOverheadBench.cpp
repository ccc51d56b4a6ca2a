// The updater's own cost of one update (frames, CRCs, copies, acknowledgement handling) against
// a bus that answers at once. On the real 10 kHz bus the same update moves about 11,000 bytes,
// roughly 10 s of bus time, so this should stay in the microseconds.

#include <benchmark/benchmark.h>

#include "app/firmware/FirmwareImage.h"
#include "i2c/I2cBus.h"
#include "iap/Crc16.h"
#include "iap/UpdaterContext.h"
#include "platform/Sleeper.h"

namespace {

class InstantBus : public argb::i2c::I2cBus {
 public:
  std::int32_t i2cWrite(const argb::i2c::I2cFrame& frame) override {
    bytesOnBus += frame.length;
    return 0;
  }
  bool i2cPollAck(const argb::i2c::I2cFrame&) override {
    bytesOnBus += 4;
    return true;
  }
  std::uint64_t bytesOnBus = 0;
};

class NoSleep : public argb::platform::Sleeper {
 public:
  void sleep(std::uint32_t) override {}
};

void BM_UpdateWithoutBusTime(benchmark::State& state) {
  InstantBus bus;
  NoSleep sleeper;
  argb::iap::UpdaterContext context(bus, sleeper);
  for (auto _ : state) {
    context.iapStart(0xC0);
    context.iapErase(0x44);
    context.setImage(argb::app::kFirmwareImage, argb::app::kFirmwareImageLength);
    context.iapPrepareCrc(0x44);
    context.iapFlash(0x44);
    context.iapCheckCrc(0x44);
    context.iapExit(0x44);
    context.iapStart(0x44);
  }
  state.counters["busBytesPerUpdate"] =
      static_cast<double>(bus.bytesOnBus) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_UpdateWithoutBusTime)->Unit(benchmark::kMicrosecond);

void BM_ImageCrc(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        argb::iap::crc16(argb::app::kFirmwareImage, argb::app::kFirmwareImageLength));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          argb::app::kFirmwareImageLength);
}
BENCHMARK(BM_ImageCrc)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
