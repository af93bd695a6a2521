#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/tools/lidar_sim/host_frames.h"
#include "lidar_sim/control_frame.h"
#include "lidar_sim/device.h"

namespace lidar_sim {
namespace {

using lidar_sim_test::host_request;
using lidar_sim_test::le16;
using lidar_sim_test::le32;
using lidar_sim_test::read_reply;
using lidar_sim_test::write_u8;

TEST(ControlFrame, HostDetectionRequestDecodesAndReplyEncodesLikeTheHostExpects) {
  const Bytes request = host_request(kCmdDetection, 2);
  ASSERT_EQ(request.size(), 24u);
  ControlFrame decoded;
  ASSERT_EQ(decode_frame(request.data(), request.size(), decoded), FrameCheck::kOk);
  EXPECT_EQ(decoded.seq, 2u);
  EXPECT_TRUE(decoded.payload.empty());

  ControlFrame reply;
  reply.seq = 0x00012345;
  reply.cmd_id = kCmdQueryInfo;
  reply.cmd_type = kCmdTypeAck;
  reply.sender_type = kSenderLidar;
  reply.payload = {0, 1, 0, 0x10, 0x80, 1, 0, 7};
  const Bytes bytes = encode_frame(reply);
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(le16(&bytes[2]), 32u);
  for (int i = 12; i < 18; ++i) EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;
  const auto view = read_reply(bytes);
  ASSERT_TRUE(view.valid);
  EXPECT_EQ(view.seq, 0x00012345u);
  EXPECT_EQ(view.cmd_id, kCmdQueryInfo);
  EXPECT_EQ(view.payload, reply.payload);

  // A frame without payload carries 0 as its payload checksum.
  reply.payload.clear();
  EXPECT_EQ(le32(&encode_frame(reply)[20]), 0u);
}

TEST(ControlFrame, RejectsDamagedFrames) {
  const Bytes good = host_request(kCmdWriteParams, 9, write_u8(0x001A, 1));
  ControlFrame out;
  ASSERT_EQ(decode_frame(good.data(), good.size(), out), FrameCheck::kOk);

  EXPECT_EQ(decode_frame(good.data(), 23, out), FrameCheck::kTooShort);
  EXPECT_EQ(decode_frame(good.data(), good.size() - 1, out), FrameCheck::kBadLength);

  Bytes v1 = good;  // version 1 with both checksums right
  v1[1] = 1;
  const uint16_t crc16 = lidar::sdk::Crc16(v1.data(), 18);
  v1[18] = static_cast<uint8_t>(crc16);
  v1[19] = static_cast<uint8_t>(crc16 >> 8);
  EXPECT_EQ(decode_frame(v1.data(), v1.size(), out), FrameCheck::kBadVersion);

  Bytes start = good;
  start[0] = 0xAB;
  EXPECT_EQ(decode_frame(start.data(), start.size(), out), FrameCheck::kBadStart);
  Bytes header = good;
  header[8] ^= 0x01;
  EXPECT_EQ(decode_frame(header.data(), header.size(), out), FrameCheck::kBadHeaderCrc);
  Bytes payload = good;
  payload.back() ^= 0x80;
  EXPECT_EQ(decode_frame(payload.data(), payload.size(), out), FrameCheck::kBadPayloadCrc);

  // Trailing bytes after the frame are not part of it.
  Bytes padded = good;
  padded.push_back(0xEE);
  ASSERT_EQ(decode_frame(padded.data(), padded.size(), out), FrameCheck::kOk);
  EXPECT_EQ(out.payload.size(), 9u);
}

class DeviceTest : public ::testing::Test {
 protected:
  static DeviceSettings omni() {
    DeviceSettings s;
    s.sn = "SIMTEST0001";
    parse_ipv4("192.168.1.12", s.ip);
    parse_ipv4("255.255.255.0", s.mask);
    parse_ipv4("192.168.1.1", s.gateway);
    return s;
  }

  void make(DeviceSettings s = omni(), DeviceFaults f = {}) {
    device_ = std::make_unique<Device>(s, f, [this](const std::string& line) { events_.push_back(line); });
  }

  std::vector<Datagram> send(uint16_t local_port, const Bytes& frame, uint64_t now_ms = 1000) {
    return device_->on_control(local_port, host_, frame.data(), frame.size(), now_ms);
  }

  // One command to the Omni command port; its single answer, checked as the host checks it.
  lidar_sim_test::ReplyView command(uint16_t cmd_id, uint32_t seq, const Bytes& payload) {
    const auto out = send(56100, host_request(cmd_id, seq, payload));
    EXPECT_EQ(out.size(), 1u);
    if (out.size() != 1) return {};
    EXPECT_EQ(out[0].src_port, 56100);
    EXPECT_EQ(to_string(out[0].dst.ip), "192.168.1.50");
    EXPECT_EQ(out[0].dst.port, 56101);
    const auto view = read_reply(out[0].bytes);
    EXPECT_TRUE(view.valid);
    EXPECT_EQ(view.seq, seq);
    EXPECT_EQ(view.cmd_id, cmd_id);
    EXPECT_EQ(view.cmd_type, kCmdTypeAck);
    EXPECT_NE(view.sender_type, kSenderHost);
    return view;
  }

  std::map<uint16_t, Bytes> query(const Bytes& payload, uint32_t seq = 77) {
    const auto view = command(kCmdQueryInfo, seq, payload);
    std::map<uint16_t, Bytes> values;
    if (view.payload.size() < 3) return values;
    EXPECT_EQ(view.payload[0], 0);
    bool ok = false;
    for (auto& kv : lidar_sim_test::walk_entries(view.payload, 3, le16(&view.payload[1]), ok))
      values[kv.key] = kv.value;
    EXPECT_TRUE(ok);
    return values;
  }

  void start_streaming() {
    EXPECT_EQ(command(kCmdWriteParams, 10, lidar_sim_test::omni_config_192_168_1_50()).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(command(kCmdWriteParams, 11, write_u8(0x001A, 1)).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(command(kCmdWriteParams, 12, write_u8(0x0000, 1)).payload, (Bytes{0, 0, 0}));
    EXPECT_EQ(command(kCmdWriteParams, 13, write_u8(0x0003, 0)).payload, (Bytes{0, 0, 0}));
  }

  Endpoint host_{};
  std::unique_ptr<Device> device_;
  std::vector<std::string> events_;

  void SetUp() override {
    parse_ipv4("192.168.1.50", host_.ip);
    host_.port = 56101;
    make();
  }
};

TEST_F(DeviceTest, AnswersDetectionWithItsIdentityToTheHostDetectionPort) {
  host_.port = 56000;
  const auto out = send(56000, host_request(kCmdDetection, 5));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].src_port, 56000);
  EXPECT_EQ(out[0].dst.port, 56000);
  const auto reply = read_reply(out[0].bytes);
  ASSERT_TRUE(reply.valid);
  EXPECT_EQ(reply.seq, 5u);
  EXPECT_EQ(reply.cmd_id, kCmdDetection);
  EXPECT_EQ(reply.cmd_type, kCmdTypeAck);
  EXPECT_NE(reply.sender_type, 0);
  ASSERT_EQ(reply.payload.size(), 24u);
  EXPECT_EQ(reply.payload[0], 0);
  EXPECT_EQ(reply.payload[1], 9);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply.payload[2])), "SIMTEST0001");
  EXPECT_EQ(Bytes(reply.payload.begin() + 18, reply.payload.begin() + 22), (Bytes{192, 168, 1, 12}));
  EXPECT_EQ(le16(&reply.payload[22]), 56100);

  // Requests elsewhere, damaged requests and answers from the host get nothing back.
  EXPECT_TRUE(send(56100, host_request(kCmdDetection, 6)).empty());
  Bytes damaged = host_request(kCmdDetection, 7);
  damaged[5] ^= 1;
  EXPECT_TRUE(send(56000, damaged).empty());
  Bytes ack = host_request(kCmdDetection, 8);
  ack[10] = 1;
  const uint16_t crc = lidar::sdk::Crc16(ack.data(), 18);
  ack[18] = static_cast<uint8_t>(crc);
  ack[19] = static_cast<uint8_t>(crc >> 8);
  EXPECT_TRUE(send(56000, ack).empty());
}

TEST_F(DeviceTest, ForwardUnitAndTwinSerialNumber) {
  DeviceSettings s = omni();
  s.dev_type = kDeviceTypeForward;
  DeviceFaults f;
  f.twin_sn = "TWIN0002";
  make(s, f);
  const auto out = send(56000, host_request(kCmdDetection, 3));
  ASSERT_EQ(out.size(), 2u);
  const auto first = read_reply(out[0].bytes);
  const auto twin = read_reply(out[1].bytes);
  ASSERT_TRUE(first.valid && twin.valid);
  EXPECT_EQ(first.payload[1], 10);
  EXPECT_EQ(le16(&first.payload[22]), 56000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&twin.payload[2])), "TWIN0002");
  EXPECT_EQ(Bytes(twin.payload.begin() + 18, twin.payload.begin() + 22), (Bytes{192, 168, 1, 12}));
  // A Forward unit takes its commands on the detection port.
  const auto write = send(56000, host_request(kCmdWriteParams, 4, write_u8(0x001A, 1)));
  ASSERT_EQ(write.size(), 1u);
  EXPECT_EQ(read_reply(write[0].bytes).payload, (Bytes{0, 0, 0}));
}

TEST_F(DeviceTest, ConfigurationThenSamplingSettingsStartBothStreams) {
  EXPECT_FALSE(device_->stream_plan().points);
  EXPECT_FALSE(device_->stream_plan().imu);
  EXPECT_FALSE(device_->push_message(0).has_value());

  EXPECT_EQ(command(kCmdWriteParams, 10, lidar_sim_test::omni_config_192_168_1_50()).payload, (Bytes{0, 0, 0}));
  // Host addresses alone start the IMU (on at power-on) but not the points (sending off).
  StreamPlan plan = device_->stream_plan();
  EXPECT_TRUE(plan.imu);
  EXPECT_FALSE(plan.points);
  EXPECT_EQ(to_string(plan.imu_dst.ip), "192.168.1.50");
  EXPECT_EQ(plan.imu_dst.port, 56401);

  start_streaming();
  plan = device_->stream_plan();
  EXPECT_TRUE(plan.points);
  EXPECT_EQ(plan.point_dst.port, 56301);
  EXPECT_EQ(plan.data_type, 1);
  EXPECT_EQ(command(kCmdWriteParams, 14, write_u8(0x0000, 2)).payload, (Bytes{0, 0, 0}));
  EXPECT_EQ(device_->stream_plan().data_type, 2);

  // Standby stops both streams; sampling again resumes them.
  command(kCmdWriteParams, 15, write_u8(0x001A, 2));
  EXPECT_FALSE(device_->stream_plan().points);
  EXPECT_FALSE(device_->stream_plan().imu);
  command(kCmdWriteParams, 16, write_u8(0x001A, 1));
  EXPECT_TRUE(device_->stream_plan().points);

  // The state message goes to the host's state port from the unit's state port.
  const auto push = device_->push_message(2000);
  ASSERT_TRUE(push.has_value());
  EXPECT_EQ(push->src_port, 56200);
  EXPECT_EQ(push->dst.port, 56201);
  const auto view = read_reply(push->bytes);
  ASSERT_TRUE(view.valid);
  EXPECT_EQ(view.cmd_id, kCmdPushInfo);
  EXPECT_EQ(view.cmd_type, 0);
  bool ok = false;
  const auto entries = lidar_sim_test::walk_entries(view.payload, 4, le16(&view.payload[0]), ok);
  EXPECT_TRUE(ok);
  EXPECT_GT(entries.size(), 10u);
}

TEST_F(DeviceTest, RebootForgetsSamplingButKeepsHostAddresses) {
  start_streaming();
  const uint32_t before = le32(query(lidar_sim_test::query_keys({0x8008}))[0x8008].data());
  device_->reboot();
  const StreamPlan plan = device_->stream_plan();
  EXPECT_FALSE(plan.points);
  EXPECT_TRUE(plan.imu);
  EXPECT_EQ(plan.point_dst.port, 56301);
  auto values = query(lidar_sim_test::query_keys({0x0003, 0x0006, 0x8008}));
  EXPECT_EQ(values[0x0003], Bytes{1});
  EXPECT_EQ(values[0x0006], (Bytes{192, 168, 1, 50, 0xED, 0xDB, 0xEC, 0xDB}));
  EXPECT_EQ(le32(values[0x8008].data()), before + 1);
  command(kCmdWriteParams, 20, write_u8(0x0003, 0));
  EXPECT_TRUE(device_->stream_plan().points);
}

TEST_F(DeviceTest, RefusesBadWritesAndAppliesNothingOfThem) {
  EXPECT_EQ(command(kCmdWriteParams, 1, write_u8(0x0000, 4)).payload, (Bytes{1, 0x00, 0x00}));
  EXPECT_EQ(command(kCmdWriteParams, 2, write_u8(0x8010, 0)).payload, (Bytes{1, 0x10, 0x80}));
  EXPECT_EQ(command(kCmdWriteParams, 3, write_u8(0x4242, 0)).payload, (Bytes{1, 0x42, 0x42}));
  // A one-byte key written with two bytes.
  EXPECT_EQ(command(kCmdWriteParams, 4, Bytes{1, 0, 0, 0, 0x1A, 0, 2, 0, 1, 0}).payload, (Bytes{1, 0x1A, 0x00}));
  // An entry that runs past the payload.
  EXPECT_EQ(command(kCmdWriteParams, 5, Bytes{2, 0, 0, 0, 0x1A, 0, 1, 0, 2, 0x00, 0x00, 5, 0}).payload[0], 2);
  // Good first entry, bad second: the first is not applied either.
  EXPECT_EQ(command(kCmdWriteParams, 6, Bytes{2, 0, 0, 0, 0x1A, 0, 1, 0, 2, 0x00, 0x00, 1, 0, 9}).payload,
            (Bytes{1, 0x00, 0x00}));
  EXPECT_EQ(query(lidar_sim_test::query_keys({0x001A, 0x0000}))[0x001A], Bytes{1});
}

TEST_F(DeviceTest, InternalInformationAnswersEveryKnownKeyInTableLayouts) {
  start_streaming();
  const auto values = query(Bytes(lidar_sim_test::query_keys(lidar_sim_test::omni_query_keys())), 88);
  EXPECT_EQ(values.size(), 30u);
  const std::map<uint16_t, std::size_t> sizes = {
      {0x0000, 1}, {0x0004, 12}, {0x0005, 8}, {0x0006, 8}, {0x0007, 8}, {0x0012, 24}, {0x0015, 20},
      {0x0019, 4}, {0x001A, 1},  {0x8000, 16}, {0x8002, 4}, {0x8005, 6}, {0x8007, 4}, {0x8008, 4},
      {0x8009, 8}, {0x800E, 2},  {0x8010, 1}, {0x8011, 32}};
  for (const auto& [k, size] : sizes) {
    ASSERT_EQ(values.count(k), 1u) << std::hex << k;
    EXPECT_EQ(values.at(k).size(), size) << std::hex << k;
  }
  EXPECT_NE(values.at(0x8010)[0], 0);
  const std::string product(values.at(0x8001).begin(), values.at(0x8001).end());
  EXPECT_EQ(product.substr(0, product.find('\0')), "DevType:OMNI FmVer:1.2.3");
  const auto temp = static_cast<int32_t>(le32(values.at(0x8007).data()));
  EXPECT_GT(temp, 2000);
  EXPECT_LT(temp, 8000);
  EXPECT_EQ(values.at(0x0004), (Bytes{192, 168, 1, 12, 255, 255, 255, 0, 192, 168, 1, 1}));
  EXPECT_EQ(values.at(0x0005), (Bytes{192, 168, 1, 50, 0x89, 0xDB, 0x88, 0xDB}));
  EXPECT_EQ(values.at(0x0007), (Bytes{192, 168, 1, 50, 0x51, 0xDC, 0x50, 0xDC}));

  // Unknown keys are left out; a key list cut short is refused.
  const auto some = query(lidar_sim_test::query_keys({0x4242, 0x8010}));
  EXPECT_EQ(some.size(), 1u);
  const auto cut = command(kCmdQueryInfo, 90, Bytes{3, 0, 0, 0, 0x10, 0x80});
  EXPECT_EQ(cut.payload, (Bytes{2, 0, 0}));
}

TEST_F(DeviceTest, ConfigurationRefusalAndSilenceFaults) {
  DeviceFaults f;
  f.refuse_config = 1;
  f.ignore_cmd[kCmdQueryInfo] = 1;
  make(omni(), f);
  EXPECT_EQ(command(kCmdWriteParams, 1, lidar_sim_test::omni_config_192_168_1_50()).payload, (Bytes{1, 0x05, 0x00}));
  EXPECT_FALSE(device_->stream_plan().imu);
  EXPECT_EQ(command(kCmdWriteParams, 2, lidar_sim_test::omni_config_192_168_1_50()).payload, (Bytes{0, 0, 0}));
  EXPECT_TRUE(device_->stream_plan().imu);
  // Other writes are never refused by the configuration fault.
  EXPECT_EQ(command(kCmdWriteParams, 3, write_u8(0x001A, 1)).payload, (Bytes{0, 0, 0}));

  EXPECT_TRUE(send(56100, host_request(kCmdQueryInfo, 4, lidar_sim_test::query_keys({0x8010}))).empty());
  EXPECT_EQ(send(56100, host_request(kCmdQueryInfo, 5, lidar_sim_test::query_keys({0x8010}))).size(), 1u);
}

TEST_F(DeviceTest, PreconfiguredUnitStreamsWithoutRequests) {
  Ipv4 host;
  parse_ipv4("127.0.0.1", host);
  device_->preconfigure(host, 56201, 56301, 56401);
  const StreamPlan plan = device_->stream_plan();
  EXPECT_TRUE(plan.points);
  EXPECT_TRUE(plan.imu);
  EXPECT_EQ(to_string(plan.point_dst.ip), "127.0.0.1");
  EXPECT_EQ(plan.point_dst.port, 56301);
  EXPECT_EQ(plan.imu_dst.port, 56401);
}

}  // namespace
}  // namespace lidar_sim
