#include "data_handler/data_handler.h"

#include <memory>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include "lidar_byte_io.h"
#include "base/sdk_log.h"

namespace lidar::sdk {
namespace {

struct Call {
  uint32_t handle;
  uint8_t dev_type;
  const uint8_t* bytes;
  void* client;
};

std::vector<uint8_t> datagram(uint8_t data_type, uint16_t dot_count, std::size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  if (size >= kPacketHeaderSize) {
    store_le<uint16_t>(bytes.data() + kPacketDotCountOffset, dot_count);
    bytes[kPacketDataTypeOffset] = data_type;
  }
  return bytes;
}

class DataHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& handler = DataHandler::Instance();
    handler.SetPointDataCallback(
        [this](uint32_t h, uint8_t t, LidarEthernetPacket* p, void* c) {
          points.push_back({h, t, reinterpret_cast<const uint8_t*>(p), c});
        },
        &point_client);
    handler.SetImuDataCallback(
        [this](uint32_t h, uint8_t t, LidarEthernetPacket* p, void* c) {
          imus.push_back({h, t, reinterpret_cast<const uint8_t*>(p), c});
        },
        &imu_client);
  }
  void TearDown() override { DataHandler::Instance().ClearCallbacks(); }

  void dispatch(const std::vector<uint8_t>& bytes, uint32_t length) {
    DataHandler::Instance().Dispatch(kDeviceTypeOmni, 0x0C01A8C0u, bytes.data(), length);
  }
  void dispatch(const std::vector<uint8_t>& bytes) {
    dispatch(bytes, static_cast<uint32_t>(bytes.size()));
  }

  int point_client = 0;
  int imu_client = 0;
  std::vector<Call> points;
  std::vector<Call> imus;
};

TEST_F(DataHandlerTest, RoutesByDataTypeOnly) {
  const auto imu = datagram(kDataTypeImu, 1, kPacketHeaderSize + kImuRecordSize);
  const auto high = datagram(kDataTypeCartesianHigh, 2, kPacketHeaderSize + 28);
  const auto low = datagram(kDataTypeCartesianLow, 1, kPacketHeaderSize + 8);
  const auto other = datagram(7, 500, kPacketHeaderSize);  // undecoded: only the header is read
  for (const auto* d : {&imu, &high, &low, &other}) dispatch(*d);

  ASSERT_EQ(imus.size(), 1u);
  EXPECT_EQ(imus[0].bytes, imu.data());  // no copy: the receive buffer itself
  EXPECT_EQ(imus[0].handle, 0x0C01A8C0u);
  EXPECT_EQ(imus[0].dev_type, kDeviceTypeOmni);
  EXPECT_EQ(imus[0].client, &imu_client);

  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].bytes, high.data());
  EXPECT_EQ(points[1].bytes, low.data());
  EXPECT_EQ(points[2].bytes, other.data());
  EXPECT_EQ(points[0].client, &point_client);
}

TEST_F(DataHandlerTest, DropsAndCountsDatagramsShorterThanTheirRecords) {
  const uint64_t before = DataHandler::Instance().DroppedDatagrams();
  const auto header_only = datagram(kDataTypeCartesianHigh, 0, kPacketHeaderSize);
  dispatch(header_only, kPacketHeaderSize - 1);
  dispatch(header_only, 0);

  const auto high = datagram(kDataTypeCartesianHigh, 2, kPacketHeaderSize + 28);
  dispatch(high, kPacketHeaderSize + 27);
  const auto low = datagram(kDataTypeCartesianLow, 3, kPacketHeaderSize + 24);
  dispatch(low, kPacketHeaderSize + 23);
  const auto imu = datagram(kDataTypeImu, 3, kPacketHeaderSize + 72);
  dispatch(imu, kPacketHeaderSize + 71);
  // A dot count far beyond any datagram (65535 records) with a full receive buffer.
  const auto huge = datagram(kDataTypeCartesianHigh, 0xFFFF, 8192);
  dispatch(huge);

  EXPECT_TRUE(points.empty());
  EXPECT_TRUE(imus.empty());
  EXPECT_EQ(DataHandler::Instance().DroppedDatagrams() - before, 6u);

  // Exactly long enough, and datagrams of no records, pass; extra trailing bytes are harmless.
  dispatch(high);
  dispatch(low);
  dispatch(imu);
  dispatch(header_only);
  dispatch(datagram(kDataTypeImu, 0, kPacketHeaderSize + 10));
  EXPECT_EQ(points.size(), 3u);
  EXPECT_EQ(imus.size(), 2u);
  EXPECT_EQ(DataHandler::Instance().DroppedDatagrams() - before, 6u);
}

TEST_F(DataHandlerTest, NullDatagramAndEmptyOrClearedCallbacksDeliverNothing) {
  DataHandler::Instance().Dispatch(0, 1, nullptr, 100);
  LidarPointCloudCallback none = nullptr;
  DataHandler::Instance().SetImuDataCallback(none, nullptr);
  dispatch(datagram(kDataTypeImu, 1, kPacketHeaderSize + 24));
  DataHandler::Instance().ClearCallbacks();
  dispatch(datagram(kDataTypeCartesianLow, 1, kPacketHeaderSize + 8));
  EXPECT_TRUE(points.empty());
  EXPECT_TRUE(imus.empty());
}

class DataHandlerLog : public DataHandlerTest {
 protected:
  void SetUp() override {
    DataHandlerTest::SetUp();
    saved_ = SdkLogger();
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out_);
    sink->set_pattern("%l|%v");
    SdkLogger() = std::make_shared<spdlog::logger>("data_handler_test", sink);
    SdkLogger()->set_level(spdlog::level::debug);
  }
  void TearDown() override {
    SdkLogger() = saved_;
    DataHandlerTest::TearDown();
  }
  std::ostringstream out_;
  std::shared_ptr<spdlog::logger> saved_;
};

TEST_F(DataHandlerLog, InitLogsSuccess) {
  EXPECT_TRUE(DataHandler::Instance().Init());
  EXPECT_NE(out_.str().find("info|Data Handler Init Succ.  [data_handler.cpp] [Init] ["),
            std::string::npos)
      << out_.str();
}

TEST_F(DataHandlerLog, ABurstOfShortDatagramsLogsOnce) {
  const auto bytes = datagram(kDataTypeCartesianHigh, 0, kPacketHeaderSize);
  for (int i = 0; i < 50; ++i) dispatch(bytes, 10);
  const std::string text = out_.str();
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_LE(lines, 1u) << text;
}

}  // namespace
}  // namespace lidar::sdk
