#include <gtest/gtest.h>

#include <cstring>

#include "lidar_sdk.h"
#include "tests/sdk_core/command_handler/command_layer_fixture.h"

namespace lidar::sdk::testing {
namespace {

constexpr const char* kIp = "192.168.1.12";

LidarCfg CustomOmni(const char* lidar_ip) {
  LidarCfg cfg;
  cfg.device_type = kDeviceTypeOmni;
  cfg.lidar_net_info.lidar_ip = lidar_ip;
  cfg.host_net_info.host_ip = "192.168.1.50";
  cfg.host_net_info.push_msg_port = 56201;
  cfg.host_net_info.point_data_port = 56301;
  cfg.host_net_info.imu_data_port = 56401;
  return cfg;
}

// What the device manager stores for a view LiDAR of host 192.168.1.10: the type's ports.
ViewLidarIpInfo ViewInfo(const char* ip, uint8_t dev_type) {
  const bool omni = dev_type == kDeviceTypeOmni;
  ViewLidarIpInfo info;
  info.handle = HandleOf(ip);
  info.dev_type = dev_type;
  info.host_ip = "192.168.1.10";
  info.lidar_cmd_port = omni ? 56100 : 56000;
  info.lidar_point_port = omni ? 56300 : 57000;
  info.lidar_imu_port = omni ? 56400 : 58000;
  info.host_point_port = omni ? 56301 : 57001;
  info.host_imu_port = omni ? 56401 : 58001;
  return info;
}

std::size_t CountOf(const std::string& text, const std::string& fragment) {
  std::size_t count = 0;
  for (auto at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) {
    ++count;
  }
  return count;
}

class DetectionTest : public CommandLayerTest {
 protected:
  // Answers the firmware-type query that was sent last.
  void AnswerFwQuery(const std::vector<uint8_t>& answer, const char* ip = kIp) {
    const SentRequest query = LastSent();
    ASSERT_EQ(query.cmd_id, kCommandIdReadInternalInfo);
    ASSERT_EQ(query.payload, (std::vector<uint8_t>{1, 0, 0, 0, 0x10, 0x80}));
    Acknowledge(kDeviceTypeOmni, ip, query.seq, kCommandIdReadInternalInfo, answer);
  }
  void AnswerFwType(uint8_t fw_type) { AnswerFwQuery(InfoAnswer(0, {{0x8010, {fw_type}}})); }

  std::size_t SentCount() const { return FakeDevices().sent.size(); }
};

TEST_F(DetectionTest, FailedReplyChangesNothing) {
  InitConfigMode();
  LogCapture log;
  Detect(kIp, kDeviceTypeOmni, "SN", 56100, 1);
  EXPECT_TRUE(log.Has("Detection lidar faield, the handle:" + std::to_string(HandleOf(kIp)) +
                      ", lidar_port:56000, ret_code:1"));
  EXPECT_EQ(SentCount(), 0u);
  EXPECT_EQ(QueryLidarInternalInfo(HandleOf(kIp), nullptr, nullptr), kStatusNotRegistered);

  // A reply too short to hold its fields is dropped as well.
  auto reply = Ack(1, kCommandIdDetection, {0, kDeviceTypeOmni, 'S'});
  General().Handler(HandleOf(kIp), kDetectionPort, reply.data(),
                    static_cast<uint32_t>(reply.size()));
  EXPECT_EQ(QueryLidarInternalInfo(HandleOf(kIp), nullptr, nullptr), kStatusNotRegistered);
}

TEST_F(DetectionTest, HostAddressModeAcceptsOnlyTheHostSegment) {
  General().InitView("192.168.1.10", true, Manager(), Manager());
  std::vector<uint32_t> hooked;
  General().SetLoggerDetectionHook(
      [&hooked](uint32_t handle, const DetectionData&) { hooked.push_back(handle); });
  LogCapture log;

  Detect("192.168.2.77", kDeviceTypeOmni);
  EXPECT_TRUE(log.Has("The host address and lidar address are on different network segments, "
                      "the host_ip:192.168.1.10, lidar_ip:192.168.2.77"));
  EXPECT_EQ(QueryLidarInternalInfo(HandleOf("192.168.2.77"), nullptr, nullptr),
            kStatusNotRegistered);

  Detect("192.168.1.77", kDeviceTypeOmni);
  EXPECT_TRUE(log.Has("Host ip:192.168.1.10, lidar ip:192.168.1.77"));
  EXPECT_EQ(LastSent().cmd_id, kCommandIdReadInternalInfo) << "firmware-type query";
  // The log capture saw both replies, the refused one included.
  EXPECT_EQ(hooked, (std::vector<uint32_t>{HandleOf("192.168.2.77"), HandleOf("192.168.1.77")}));
  General().SetLoggerDetectionHook(nullptr);
}

TEST_F(DetectionTest, SecondSerialNumberOnOneAddressIsAConflict) {
  InitConfigMode();
  FakeDevices().master_sdk = false;
  LogCapture log;
  Detect(kIp, kDeviceTypeOmni, "0123456789ABCDEF");  // 16 characters, no NUL
  Detect(kIp, kDeviceTypeOmni, "OTHER");
  EXPECT_TRUE(log.Has("Lidar ip conflic, the lidar ip:192.168.1.12, the sn1:0123456789ABCDEF, "
                      "the sn2:OTHER"));

  // Type conflicts are the device manager's to report; the registered type stays.
  Detect(kIp, kDeviceTypeForward, "0123456789ABCDEF");
  ASSERT_EQ(FakeDevices().detections.size(), 2u);
  EXPECT_EQ(FakeDevices().detections.back().data.dev_type, kDeviceTypeForward);
  ASSERT_EQ(QueryLidarInternalInfo(HandleOf(kIp), nullptr, nullptr), kStatusSuccess);
  EXPECT_EQ(LastSent().payload.size(), 64u) << "still the Omni key list";

  General().LidarInfoChange(HandleOf(kIp));
  ASSERT_EQ(info_changes.size(), 1u);
  EXPECT_STREQ(info_changes[0].info.sn, "0123456789ABCDE");
  EXPECT_STREQ(info_changes[0].info.lidar_ip, kIp);
  EXPECT_EQ(info_changes[0].info.dev_type, kDeviceTypeOmni);
}

TEST_F(DetectionTest, LidarIsConfiguredOnceAndReportedOnce) {
  InitConfigMode({CustomOmni(kIp)});
  Detect(kIp, kDeviceTypeOmni, "SN0001", 56100);
  EXPECT_TRUE(FakeDevices().detections.empty()) << "the first reply only registers";
  AnswerFwType(1);

  Detect(kIp, kDeviceTypeOmni, "SN0001", 56100);
  const SentFrame cfg_frame = FakeDevices().sent.back();
  EXPECT_EQ(cfg_frame.dest_port, 56100);
  const SentRequest cfg = Decode(cfg_frame.bytes);
  EXPECT_EQ(cfg.cmd_id, kCommandIdWriteKeyValue);
  EXPECT_EQ(cfg.payload.size(), 40u);
  ASSERT_EQ(FakeDevices().detections.size(), 1u);
  EXPECT_TRUE(FakeDevices().detections[0].fw_type_known);
  EXPECT_FALSE(FakeDevices().detections[0].fw_type_zero);

  // Not yet acknowledged: the next reply sends the request again.
  Detect(kIp, kDeviceTypeOmni, "SN0001", 56100);
  const SentRequest retry = LastSent();
  EXPECT_EQ(retry.cmd_id, kCommandIdWriteKeyValue);
  EXPECT_NE(retry.seq, cfg.seq);
  Acknowledge(kDeviceTypeOmni, kIp, retry.seq, kCommandIdWriteKeyValue, {0, 0, 0});
  ASSERT_EQ(info_changes.size(), 1u);
  EXPECT_EQ(info_changes[0].handle, HandleOf(kIp));
  EXPECT_STREQ(info_changes[0].info.sn, "SN0001");

  const std::size_t sent = SentCount();
  Detect(kIp, kDeviceTypeOmni, "SN0001", 56100);
  EXPECT_EQ(SentCount(), sent) << "a configured LiDAR is not configured again";
  Acknowledge(kDeviceTypeOmni, kIp, cfg.seq, kCommandIdWriteKeyValue, {0, 0, 0});
  General().LidarInfoChange(HandleOf(kIp));
  EXPECT_EQ(info_changes.size(), 1u) << "the application hears about a LiDAR once";
}

// A refusal is no acceptance, whatever the device type: nothing is reported, and the LiDAR is
// asked again by its next detection reply, not from the refusal's own handling.
TEST_F(DetectionTest, RefusedConfigurationIsNotReportedAndIsAskedAgainByTheNextReply) {
  LidarCfg forward = CustomOmni("192.168.1.13");
  forward.device_type = kDeviceTypeForward;
  InitConfigMode({CustomOmni(kIp), forward});
  for (const auto& [ip, type] :
       {std::make_pair(kIp, kDeviceTypeOmni), std::make_pair("192.168.1.13", kDeviceTypeForward)}) {
    Detect(ip, type);
    AnswerFwQuery(InfoAnswer(0, {{0x8010, {1}}}), ip);
    Detect(ip, type);
    const SentRequest request = LastSent();
    ASSERT_EQ(request.cmd_id, kCommandIdWriteKeyValue);
    EXPECT_EQ(request.payload.size(), type == kDeviceTypeOmni ? 40u : 28u);
    LogCapture log;
    const std::size_t sent = SentCount();
    Acknowledge(type, ip, request.seq, kCommandIdWriteKeyValue, {1, 0x06, 0x00});
    EXPECT_TRUE(log.Has("Update lidar failed, the ret_code:1, error_key:6"));
    EXPECT_EQ(SentCount(), sent);
    EXPECT_TRUE(info_changes.empty());

    Detect(ip, type);
    EXPECT_EQ(SentCount(), sent + 1);
    Acknowledge(type, ip, LastSent().seq, kCommandIdWriteKeyValue, {0, 0, 0});
    ASSERT_EQ(info_changes.size(), 1u);
    EXPECT_EQ(info_changes[0].info.dev_type, type);
    info_changes.clear();
  }
}

TEST_F(DetectionTest, FirmwareTypeZeroIsNeverConfiguredNorReported) {
  InitConfigMode({CustomOmni(kIp)});
  Detect(kIp, kDeviceTypeOmni);
  AnswerFwType(0);
  const std::size_t sent = SentCount();
  Detect(kIp, kDeviceTypeOmni);
  Detect(kIp, kDeviceTypeOmni);
  EXPECT_EQ(SentCount(), sent);
  ASSERT_EQ(FakeDevices().detections.size(), 2u);
  EXPECT_TRUE(FakeDevices().detections[1].fw_type_known);
  EXPECT_TRUE(FakeDevices().detections[1].fw_type_zero);
  EXPECT_TRUE(info_changes.empty());
}

TEST_F(DetectionTest, FirmwareQueryIsRetriedUntilTheSharedCounterPassesTen) {
  InitConfigMode({CustomOmni(kIp)});
  Detect(kIp, kDeviceTypeOmni);
  // A success first, so the shared counter starts from zero.
  AnswerFwType(1);
  Detect("192.168.1.14", kDeviceTypeOmni);

  LogCapture log;
  const char* other = "192.168.1.14";
  AnswerFwQuery(InfoAnswer(0, {{0x8011, {1}}}), other);
  EXPECT_TRUE(log.Has("Query Fw type filed, the key had fault, the key:32785"));
  for (int i = 0; i < 10; ++i) AnswerFwQuery(InfoAnswer(1, {}), other);
  EXPECT_EQ(CountOf(log.Text(), "Query lidar Fw type failed, the ret_code:1"), 10u);
  EXPECT_FALSE(log.Has("retry time more than 10"));

  const std::size_t sent = SentCount();
  const SentRequest last_query = LastSent();
  Acknowledge(kDeviceTypeOmni, "192.168.1.14", last_query.seq, kCommandIdReadInternalInfo,
              InfoAnswer(0, {{0x8010, {1, 2}}}));
  EXPECT_EQ(CountOf(log.Text(), "Query lidar failed, the retry time more than 10."), 1u);
  EXPECT_FALSE(log.Has("the val lenth is error")) << "the twelfth answer is not examined";
  EXPECT_EQ(SentCount(), sent) << "given up: no new query";

  // Given up means known and not zero, so the LiDAR gets configured.
  Detect("192.168.1.14", kDeviceTypeOmni);
  ASSERT_FALSE(FakeDevices().detections.empty());
  EXPECT_TRUE(FakeDevices().detections.back().fw_type_known);
  EXPECT_FALSE(FakeDevices().detections.back().fw_type_zero);
}

TEST_F(DetectionTest, FailedQuerySendsAreRetriedWithoutALaterTimeout) {
  InitConfigMode();
  Detect(kIp, kDeviceTypeOmni);
  AnswerFwType(1);  // counter back to zero

  FakeDevices().fail_sends = true;
  LogCapture log;
  Detect("192.168.1.14", kDeviceTypeOmni);
  EXPECT_EQ(CountOf(log.Text(), "Query lidar Fw type failed, the status:-9"), 11u);
  EXPECT_EQ(CountOf(log.Text(), "Query lidar failed, the retry time more than 10."), 1u);

  log.Clear();
  General().CommandsHandle(std::chrono::steady_clock::now() + std::chrono::hours(1));
  EXPECT_FALSE(log.Has("the status:-4"));
}

TEST_F(DetectionTest, InfoChangeForUnknownHandleCreatesNothing) {
  InitConfigMode();
  LogCapture log;
  General().LidarInfoChange(HandleOf(kIp));
  EXPECT_TRUE(log.Has("Lidar info change failed, can not found device, the handle:" +
                      std::to_string(HandleOf(kIp))));
  General().LidarInfoChange(HandleOf(kIp));
  EXPECT_TRUE(info_changes.empty());
}

TEST_F(DetectionTest, ViewLidarIsConfiguredThroughTheDeviceManager) {
  General().InitView("192.168.1.10", true, Manager(), Manager());
  General().SetLidarInfoChangeCallback(&CommandLayerTest::OnInfoChange, this);
  Detect("192.168.1.77", kDeviceTypeOmni);
  Acknowledge(kDeviceTypeOmni, "192.168.1.77", LastSent().seq, kCommandIdReadInternalInfo,
              InfoAnswer(0, {{0x8010, {1}}}));

  const ViewLidarIpInfo info = ViewInfo("192.168.1.77", kDeviceTypeOmni);
  FakeDevices().master_sdk = false;
  const std::size_t sent = SentCount();
  General().UpdateViewLidarCfg(info);
  EXPECT_EQ(SentCount(), sent) << "only the master SDK configures";

  FakeDevices().master_sdk = true;
  General().UpdateViewLidarCfg(info);
  const SentRequest request = LastSent();
  EXPECT_EQ(request.payload.size(), 28u);
  EXPECT_EQ(FakeDevices().sent.back().dest_port, 56100);
  Acknowledge(kDeviceTypeOmni, "192.168.1.77", request.seq, kCommandIdWriteKeyValue, {0, 0, 0});
  EXPECT_EQ(FakeDevices().view_cfg_updates, (std::vector<uint32_t>{info.handle}));
  EXPECT_EQ(info_changes.size(), 1u);

  // Configured again from the start (it lost power, say): asked again, reported again.
  EXPECT_EQ(General().Reconfigure(HandleOf("192.168.1.99")), kStatusNotRegistered);
  EXPECT_EQ(General().Reconfigure(info.handle), kStatusSuccess);
  EXPECT_EQ(FakeDevices().view_cfg_forgotten, (std::vector<uint32_t>{info.handle}));
  General().UpdateViewLidarCfg(info);
  Acknowledge(kDeviceTypeOmni, "192.168.1.77", LastSent().seq, kCommandIdWriteKeyValue, {0, 0, 0});
  EXPECT_EQ(info_changes.size(), 2u);
}

}  // namespace
}  // namespace lidar::sdk::testing
