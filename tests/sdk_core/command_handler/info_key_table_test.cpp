#include "command_handler/info_key_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "lidar_byte_io.h"
#include "tests/sdk_core/command_handler/test_frames.h"

namespace lidar::sdk {
namespace {

using testing::Entry;
using testing::PushData;

CommPacket PacketOver(std::vector<uint8_t>& data) {
  CommPacket packet;
  packet.cmd_id = kCommandIdPushMessage;
  packet.data = data.data();
  packet.data_len = static_cast<uint16_t>(data.size());
  return packet;
}

std::vector<uint8_t> Le32(int32_t value) {
  std::vector<uint8_t> bytes(4);
  store_le<int32_t>(bytes.data(), value);
  return bytes;
}

TEST(InfoKeyTable, NoKeysRendersAnEmptyObject) {
  auto data = PushData({});
  std::string json = "untouched";
  ASSERT_TRUE(build_info_json(PacketOver(data), json));
  EXPECT_EQ(json, "{}");
}

TEST(InfoKeyTable, RendersPresentKeysInKeyOrderWithFourSpaceIndent) {
  std::vector<uint8_t> host_cfg = {192, 168, 1, 50, 0, 0, 0, 0};
  store_le<uint16_t>(host_cfg.data() + 4, 56301);
  store_le<uint16_t>(host_cfg.data() + 6, 56300);
  auto data = PushData({{0x8007, Le32(-512)},
                        {0x0006, host_cfg},
                        {0x8002, {1, 2, 3, 4}},
                        {0x001E, {9}},  // asked for by the Forward query, but has no field
                        {0x0000, {1}}});
  std::string json;
  ASSERT_TRUE(build_info_json(PacketOver(data), json));
  EXPECT_EQ(json,
            "{\n"
            "    \"pcl_data_type\": 1,\n"
            "    \"ponitcloud_host_ipcfg\": {\n"
            "        \"ip\": \"192.168.1.50\",\n"
            "        \"dst_port\": 56301,\n"
            "        \"src_port\": 56300\n"
            "    },\n"
            "    \"version_app\": [\n"
            "        1,\n"
            "        2,\n"
            "        3,\n"
            "        4\n"
            "    ],\n"
            "    \"core_temp\": -512\n"
            "}");
}

TEST(InfoKeyTable, StatusCodeIsHexFromLastByteToFirst) {
  std::vector<uint8_t> status(32, 0);
  status[0] = 0x01;
  status[1] = 0xAB;
  auto data = PushData({{0x800D, status}});
  InfoRecord record{};
  std::set<uint16_t> keys;
  ASSERT_TRUE(decode_push_info(PacketOver(data), record, keys));
  std::string json;
  render_info_json(record, keys, json);
  std::string expected = "{\n    \"status_code\": \"";
  for (int i = 0; i < 30; ++i) expected += "0 ";
  expected += "ab 1\"\n}";
  EXPECT_EQ(json, expected);
}

TEST(InfoKeyTable, TextAndAddressFieldsAreCutToTheirSize) {
  const std::string long_sn = "0123456789ABCDEFGHIJ";  // 20 characters into a 16-byte field
  auto data = PushData({{0x8000, std::vector<uint8_t>(long_sn.begin(), long_sn.end())},
                        {0x0004, {10, 0, 0, 2, 255, 255, 255, 0, 10, 0, 0, 1}}});
  std::string json;
  ASSERT_TRUE(build_info_json(PacketOver(data), json));
  EXPECT_NE(json.find("\"sn\": \"0123456789ABCDEF\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"lidar_subnet_mask\": \"255.255.255.0\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"lidar_gateway\": \"10.0.0.1\""), std::string::npos) << json;
}

TEST(InfoKeyTable, TruncatedEntriesFailAndLeaveTheTextEmpty) {
  // Declared length runs past the end of the data.
  auto data = PushData({{0x8007, Le32(20)}});
  data.pop_back();
  std::string json;
  EXPECT_FALSE(build_info_json(PacketOver(data), json));
  EXPECT_TRUE(json.empty());

  // key_num promises a second entry that was never sent.
  data = PushData({{0x0000, {1}}});
  store_le<uint16_t>(data.data(), 2);
  EXPECT_FALSE(build_info_json(PacketOver(data), json));

  // Only a header, no value byte.
  data = PushData({{0x0000, {1}}});
  data.pop_back();
  store_le<uint16_t>(data.data() + 6, 0);
  EXPECT_FALSE(build_info_json(PacketOver(data), json));
  EXPECT_TRUE(json.empty());
}

// Found by fuzzing: a device that sends NaN or an infinity as an installation angle made the
// renderer emit a member without a value ("pitch_deg": ,), text no JSON reader accepts.
TEST(InfoKeyTable, NonFiniteInstallationAnglesRenderAsNull) {
  // 0x0012 install_attitude: roll 1.5, pitch NaN (0x7FC00000), yaw +inf (0x7F800000), x y z.
  auto data =
      PushData({{0x0012, {0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0xC0, 0x7F, 0x00, 0x00, 0x80, 0x7F,
                          1,    0,    0,    0,    2,    0,    0,    0,    3,    0,    0,    0}}});
  std::string json;
  ASSERT_TRUE(build_info_json(PacketOver(data), json));
  EXPECT_NE(json.find("\"roll_deg\": 1.5,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"pitch_deg\": null,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"yaw_deg\": null,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"z_mm\": 3"), std::string::npos) << json;
}

}  // namespace
}  // namespace lidar::sdk
