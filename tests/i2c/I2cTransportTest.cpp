#include "i2c/I2cTransport.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "tests/support/FakePlatform.h"

namespace argb::i2c {
namespace {

using driver::GpuHandle;
using driver::I2cInfo;
using driver::NvApiStatus;

const auto kGpu = reinterpret_cast<GpuHandle>(0xABC);

// A driver that records each transaction as the driver saw it at the moment of the call.
class RecordingNvApi : public driver::NvApi {
 public:
  struct Transaction {
    bool isWrite;
    GpuHandle gpu;
    I2cInfo record;
    std::vector<std::uint8_t> registerBytes;
    std::vector<std::uint8_t> data;
    std::uint32_t argument;
    const std::uint32_t* argumentAddress;
  };

  NvApiStatus initializeStatus = 0;
  NvApiStatus enumerateStatus = 0;
  NvApiStatus writeStatus = 0;
  std::deque<NvApiStatus> readStatuses;
  std::deque<std::vector<std::uint8_t>> readReplies;
  std::vector<Transaction> transactions;
  int initializeCalls = 0;

  NvApiStatus NvAPI_Initialize() override {
    ++initializeCalls;
    return initializeStatus;
  }
  NvApiStatus NvAPI_EnumPhysicalGPUs(GpuHandle handles[driver::kMaxPhysicalGpus],
                                     std::uint32_t* count) override {
    handles[0] = kGpu;
    *count = 1;
    return enumerateStatus;
  }
  NvApiStatus NvAPI_I2CWriteEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* argument) override {
    record(true, gpu, *info, argument);
    return writeStatus;
  }
  NvApiStatus NvAPI_I2CReadEx(GpuHandle gpu, I2cInfo* info, std::uint32_t* argument) override {
    record(false, gpu, *info, argument);
    if (!readReplies.empty()) {
      const auto reply = readReplies.front();
      readReplies.pop_front();
      std::copy_n(reply.begin(), std::min<std::size_t>(reply.size(), info->cbSize), info->pbData);
    }
    if (readStatuses.empty()) return 0;
    const NvApiStatus status = readStatuses.front();
    readStatuses.pop_front();
    return status;
  }

 private:
  void record(bool isWrite, GpuHandle gpu, const I2cInfo& info, std::uint32_t* argument) {
    Transaction transaction{isWrite, gpu, info, {}, {}, *argument, argument};
    if (info.pbI2cRegAddress != nullptr) {
      transaction.registerBytes.assign(info.pbI2cRegAddress,
                                       info.pbI2cRegAddress + info.regAddrSize);
    }
    if (isWrite) transaction.data.assign(info.pbData, info.pbData + info.cbSize);
    transactions.push_back(transaction);
  }
};

void expectControllerFields(const I2cInfo& record) {
  EXPECT_EQ(record.version, 0x30040u);
  EXPECT_EQ(record.displayMask, 0u);
  EXPECT_EQ(record.bIsDDCPort, 0);
  EXPECT_EQ(record.i2cSpeed, 0xFFFFu);
  EXPECT_EQ(record.i2cSpeedKhz, 2u);
  EXPECT_EQ(record.portId, 1);
  EXPECT_EQ(record.bIsPortIdSet, 1u);
}

class I2cTransportTest : public ::testing::Test {
 protected:
  I2cTransportTest() { EXPECT_EQ(transport.i2cInit(), 0); }

  RecordingNvApi nvApi;
  testing::FakePlatform fake;
  I2cTransport transport{nvApi, fake};
};

TEST_F(I2cTransportTest, InitReturnsTheEnumerationStatusEvenAfterAFailedInitialise) {
  RecordingNvApi failing;
  failing.initializeStatus = -2;
  I2cTransport other(failing, fake);
  EXPECT_EQ(other.i2cInit(), 0);
  EXPECT_EQ(other.gpuHandles()[0], kGpu);
  failing.enumerateStatus = -6;
  EXPECT_EQ(other.i2cInit(), -6);
}

TEST_F(I2cTransportTest, AWriteSendsTheWholeFrameWithoutRegisterBytes) {
  std::vector<std::uint8_t> block(130);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  nvApi.writeStatus = -13;
  EXPECT_EQ(transport.i2cWrite({0x144, block.data(), 130}), -13) << "status passes unchanged";
  ASSERT_EQ(nvApi.transactions.size(), 1u);
  const auto& write = nvApi.transactions[0];
  EXPECT_TRUE(write.isWrite);
  EXPECT_EQ(write.gpu, kGpu);
  expectControllerFields(write.record);
  EXPECT_EQ(write.record.i2cDevAddress, 0x44) << "low byte of the address";
  EXPECT_EQ(write.record.pbI2cRegAddress, nullptr);
  EXPECT_EQ(write.record.regAddrSize, 0u);
  EXPECT_EQ(write.record.cbSize, 130u);
  EXPECT_EQ(write.data, block);
  EXPECT_NE(write.record.pbData, block.data()) << "sent from the call's own transfer buffer";
  EXPECT_EQ(write.argument, 0u);
}

TEST_F(I2cTransportTest, A1024ByteFrameIsSentWholeAndA1025ByteOneIsRefusedUnsent) {
  std::vector<std::uint8_t> bytes(1025);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  EXPECT_EQ(transport.i2cWrite({kLoaderAddress, bytes.data(), 1024}), 0);
  ASSERT_EQ(nvApi.transactions.size(), 1u);
  EXPECT_EQ(nvApi.transactions[0].record.cbSize, 1024u);
  EXPECT_EQ(nvApi.transactions[0].data, std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1));

  EXPECT_EQ(transport.i2cWrite({kLoaderAddress, bytes.data(), 1025}), kStatusFrameRefused);
  EXPECT_EQ(nvApi.transactions.size(), 1u) << "nothing of the longer frame reaches the driver";
}

TEST_F(I2cTransportTest, APollIsOneFourByteReadAtTheFramesOwnAddress) {
  nvApi.readReplies = {{0, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 0x80}, {0xFF, 0xFF, 0xFF, 0xFF}};
  const I2cFrame frame{kApplicationAddress, nullptr, 0};
  EXPECT_FALSE(transport.i2cPollAck(frame));
  EXPECT_TRUE(transport.i2cPollAck(frame));
  EXPECT_TRUE(transport.i2cPollAck(frame));
  EXPECT_TRUE(transport.i2cPollAck(frame));
  for (const auto& poll : nvApi.transactions) {
    EXPECT_FALSE(poll.isWrite);
    expectControllerFields(poll.record);
    EXPECT_EQ(poll.record.i2cDevAddress, 0xC0) << "no read bit added";
    EXPECT_NE(poll.record.pbI2cRegAddress, nullptr);
    EXPECT_EQ(poll.record.regAddrSize, 0u);
    EXPECT_EQ(poll.record.cbSize, 4u);
    EXPECT_EQ(poll.argument, 1u);
  }
}

TEST_F(I2cTransportTest, AFailedReadIsNoAcknowledgementWhateverTheBufferHolds) {
  nvApi.readReplies = {{1, 2, 3, 4}};
  nvApi.readStatuses = {-1};
  EXPECT_FALSE(transport.i2cPollAck({kLoaderAddress, nullptr, 0}));
  EXPECT_EQ(nvApi.transactions[0].record.i2cDevAddress, 0x44);
}

TEST_F(I2cTransportTest, TheVersionQueryWritesRegister81ThenReadsEightBytes) {
  nvApi.readReplies = {{0x81, 0, 0, 0, 0x40, 0x70, 0x00, 0x09}};
  std::uint8_t version[4] = {};
  EXPECT_EQ(transport.readFwVersion(version), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(version, version + 4),
            (std::vector<std::uint8_t>{0x40, 0x70, 0x00, 0x09}));

  ASSERT_EQ(nvApi.transactions.size(), 2u);
  const auto& write = nvApi.transactions[0];
  const auto& read = nvApi.transactions[1];
  expectControllerFields(write.record);
  EXPECT_EQ(write.record.i2cDevAddress, 0xC0);
  EXPECT_EQ(write.registerBytes, std::vector<std::uint8_t>{0x81});
  EXPECT_EQ(write.data, std::vector<std::uint8_t>(7, 0));
  EXPECT_EQ(write.argument, 0u);
  expectControllerFields(read.record);
  EXPECT_EQ(read.record.i2cDevAddress, 0xC1);
  EXPECT_EQ(read.registerBytes, std::vector<std::uint8_t>{0x81});
  EXPECT_EQ(read.record.cbSize, 8u);
  EXPECT_EQ(read.argumentAddress, write.argumentAddress) << "the same variable, not reset";
  EXPECT_EQ(fake.events, (std::vector<std::string>{"sleep 50", "sleep 50"}));
}

TEST_F(I2cTransportTest, AFailedVersionReadKeepsTheEarlierBytesAndStillPauses) {
  nvApi.writeStatus = -1;
  nvApi.readReplies = {{0x81, 0, 0, 0, 0x40, 0x70, 0x00, 0x05}, {0x81, 0, 0, 0, 1, 2, 3, 4}};
  nvApi.readStatuses = {0, -7};
  std::uint8_t version[4] = {};
  EXPECT_EQ(transport.readFwVersion(version), 0) << "a failed write does not stop the read";
  EXPECT_EQ(transport.readFwVersion(version), -7);
  EXPECT_EQ(std::vector<std::uint8_t>(version, version + 4),
            (std::vector<std::uint8_t>{0x40, 0x70, 0x00, 0x05}));
  EXPECT_EQ(nvApi.transactions.size(), 4u);
  EXPECT_EQ(fake.sleeps.size(), 4u);
}

}  // namespace
}  // namespace argb::i2c
