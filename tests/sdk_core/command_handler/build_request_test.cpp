#include "command_handler/build_request.h"

#include <gtest/gtest.h>

#include <vector>

#include "lidar_byte_io.h"
#include "lidar_sdk.h"
#include "tests/sdk_core/base/log_capture.h"

namespace lidar::sdk {
namespace {

LidarCfg OmniCfg(const std::string& host_ip, const std::string& multicast_ip = "") {
  LidarCfg cfg;
  cfg.device_type = kDeviceTypeOmni;
  cfg.host_net_info.host_ip = host_ip;
  cfg.host_net_info.multicast_ip = multicast_ip;
  cfg.host_net_info.push_msg_port = 56201;
  cfg.host_net_info.point_data_port = 56301;
  cfg.host_net_info.imu_data_port = 56401;
  return cfg;
}

std::vector<uint8_t> Build(bool (*builder)(const LidarCfg&, uint8_t*, uint16_t&),
                           const LidarCfg& cfg, bool* ok = nullptr) {
  uint8_t buffer[1400] = {};
  uint16_t length = 0;
  const bool built = builder(cfg, buffer, length);
  if (ok != nullptr) *ok = built;
  return std::vector<uint8_t>(buffer, buffer + length);
}

TEST(BuildRequest, OmniRequestCarriesStatePointAndImuEntries) {
  bool ok = false;
  const auto bytes = Build(BuildUpdateOmniLidarCfgRequest, OmniCfg("192.168.1.50"), &ok);
  ASSERT_TRUE(ok);
  const std::vector<uint8_t> expected = {
      0x03, 0x00, 0x00, 0x00,                                                        //
      0x05, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x89, 0xDB, 0x88, 0xDB,        //
      0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xED, 0xDB, 0xEC, 0xDB,        //
      0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x51, 0xDC, 0x50, 0xDC};
  EXPECT_EQ(bytes, expected);
}

TEST(BuildRequest, MulticastGroupReplacesEveryAddressButHostMustStillBeValid) {
  bool ok = false;
  const auto bytes = Build(BuildUpdateOmniLidarCfgRequest, OmniCfg("192.168.1.50", "224.1.1.5"), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(bytes.size(), 40u);
  for (std::size_t entry = 0; entry < 3; ++entry) {
    const std::size_t at = 4 + 12 * entry + 4;
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + 4),
              (std::vector<uint8_t>{0xE0, 0x01, 0x01, 0x05}))
        << "entry " << entry;
  }

  testing::LogCapture log;
  Build(BuildUpdateOmniLidarCfgRequest, OmniCfg("", "224.1.1.5"), &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(log.Has("Build update lidar cfg request failed, init host ip addr failed."));
}

TEST(BuildRequest, ForwardAndThirdTypeRequestsUseTheirSourcePorts) {
  LidarCfg cfg = OmniCfg("10.0.0.2");
  cfg.device_type = kDeviceTypeForward;
  bool ok = false;
  auto bytes = Build(BuildUpdateLidarCfgRequest, cfg, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(bytes.size(), 28u);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(load_le<uint16_t>(&bytes[4]), 0x0006);
  EXPECT_EQ(load_le<uint16_t>(&bytes[4 + 10]), 57000);
  EXPECT_EQ(load_le<uint16_t>(&bytes[16]), 0x0007);
  EXPECT_EQ(load_le<uint16_t>(&bytes[16 + 8]), 56401);
  EXPECT_EQ(load_le<uint16_t>(&bytes[16 + 10]), 58000);

  cfg.device_type = kDeviceTypeThirdParty;
  bytes = Build(BuildUpdateLidarCfgRequest, cfg, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(load_le<uint16_t>(&bytes[4 + 10]), 10000);

  testing::LogCapture log;
  cfg.device_type = 3;
  Build(BuildUpdateLidarCfgRequest, cfg, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(log.Has("Build update lidar cfg request failed, unknown the dev_type:3"));
}

TEST(BuildRequest, ViewRequestTakesAddressesAndPortsFromTheRecord) {
  ViewLidarIpInfo info;
  info.handle = 1;
  info.dev_type = kDeviceTypeOmni;
  info.host_ip = "192.168.1.50";
  info.lidar_point_port = 56300;
  info.lidar_imu_port = 56400;
  info.host_point_port = 56301;
  info.host_imu_port = 56401;
  uint8_t buffer[1400] = {};
  uint16_t length = 0;
  ASSERT_TRUE(BuildUpdateViewLidarCfgRequest(info, buffer, length));
  ASSERT_EQ(length, 28);
  const std::vector<uint8_t> expected = {
      0x02, 0x00, 0x00, 0x00,                                                  //
      0x06, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0xED, 0xDB, 0xEC, 0xDB,  //
      0x07, 0x00, 0x08, 0x00, 0xC0, 0xA8, 0x01, 0x32, 0x51, 0xDC, 0x50, 0xDC};
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), expected);

  testing::LogCapture log;
  info.host_ip = "not an address";
  EXPECT_FALSE(BuildUpdateViewLidarCfgRequest(info, buffer, length));
  EXPECT_TRUE(log.Has("Build update view lidar cfg request failed, init host ip addr failed."));
}

TEST(IpToU8, AcceptsFourDecimalOctets) {
  std::vector<uint8_t> octets;
  ASSERT_TRUE(IpToU8("192.168.001.0", ".", octets));
  EXPECT_EQ(octets, (std::vector<uint8_t>{192, 168, 1, 0}));

  uint8_t addr[4] = {};
  ASSERT_TRUE(InitIpAddr("255.0.10.7", addr));
  EXPECT_EQ(addr[0], 255);
  EXPECT_EQ(addr[3], 7);
  EXPECT_FALSE(InitIpAddr("255.0.10.7", nullptr));
}

TEST(IpToU8, RejectsOutOfRangeValuesAndWrongPieceCounts) {
  testing::LogCapture log;
  std::vector<uint8_t> octets;
  EXPECT_FALSE(IpToU8("192.168.1.256", ".", octets));
  EXPECT_TRUE(log.Has("the ip:192.168.1.256, the fault val:256"));
  EXPECT_FALSE(IpToU8("192.168.1", ".", octets));
  EXPECT_TRUE(log.Has("the ip:192.168.1, the val size:3"));
  EXPECT_FALSE(IpToU8("1.2.3.4.5", ".", octets));
  EXPECT_TRUE(log.Has("the ip:1.2.3.4.5, the val size:5"));
}

TEST(IpToU8, RejectsPiecesThatAreNotDecimalNumbers) {
  std::vector<uint8_t> octets;
  for (const char* text : {"", "1.2.3.", ".1.2.3", "1..2.3", "a.b.c.d", "1.2.3.-4", "1.2.3.4x",
                           "1.2.3.99999999999999999999999", "1.2.3. 4"}) {
    octets.clear();
    EXPECT_FALSE(IpToU8(text, ".", octets)) << "'" << text << "'";
  }
}

}  // namespace
}  // namespace lidar::sdk
