#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "lidar_sdk.h"
#include "parse_cfg_file.h"
#include "params_check.h"
#include "tests/sdk_core/base/log_capture.h"
#include "tests/sdk_core/base/temp_dir.h"

namespace lidar::sdk {
namespace {

const char* kLidarPorts = R"("lidar_net_info": {"cmd_data_port": 56100, "push_msg_port": 56200,
    "point_data_port": 56300, "imu_data_port": 56400, "log_data_port": 56500})";
const char* kHostPorts = R"("cmd_data_port": 56101, "push_msg_port": 56201,
    "point_data_port": 56301, "imu_data_port": 56401, "log_data_port": 56501)";

std::string Host(const std::string& extra) {
  return "{" + extra + (extra.empty() ? "" : ", ") + kHostPorts + "}";
}

std::string Section(const std::string& hosts) {
  return std::string("{") + kLidarPorts + R"(, "host_net_info": )" + hosts + "}";
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }

  bool ParseText(const std::string& json) {
    std::ofstream file(path_, std::ios::binary);
    file << json;
    file.close();
    // A file that was never written would fail every parse below for a reason of its own.
    EXPECT_TRUE(file) << "cannot write " << path_;
    return ParseCfgFile(path_).Parse(type_cfgs, custom_cfgs, logger_cfg, framework_cfg);
  }
  bool ParseOmni(const std::string& hosts) {
    return ParseText(R"({"OMNI": )" + Section(hosts) + "}");
  }

  std::filesystem::path dir_ = testing::MakeTempDir("sdk_cfg_");
  std::string path_ = (dir_ / "config.json").string();
  testing::LogCapture log;
  std::shared_ptr<LidarCfgList> type_cfgs;
  std::shared_ptr<LidarCfgList> custom_cfgs;
  std::shared_ptr<LidarLoggerCfg> logger_cfg;
  std::shared_ptr<LidarSdkFrameworkCfg> framework_cfg;
};

TEST_F(ConfigFileTest, UnreadableFileOrDocument) {
  EXPECT_FALSE(ParseCfgFile(path_ + ".missing").Parse(type_cfgs, custom_cfgs, logger_cfg,
                                                      framework_cfg));
  EXPECT_TRUE(log.Has("error Parse lidar config failed, can not open json config file!"));
  EXPECT_EQ(type_cfgs, nullptr);

  EXPECT_FALSE(ParseText(R"({"OMNI": )"));
  EXPECT_TRUE(log.Has("Parse lidar config failed, parse the config file has error!"));
  EXPECT_FALSE(ParseText("[1, 2]"));
  EXPECT_EQ(type_cfgs, nullptr);
}

// A file nested a million levels deep overflowed the stack of the recursive parser, ending the
// process before it could report the file as broken.
TEST_F(ConfigFileTest, DeeplyNestedFileIsRefusedNotFatal) {
  EXPECT_FALSE(ParseText(std::string(1000000, '[')));
  EXPECT_TRUE(log.Has("Parse lidar config failed, parse the config file has error!"));
  // Deep but well-formed, under a key the reader ignores.
  EXPECT_TRUE(ParseText(R"({"notes": )" + std::string(1000000, '[') +
                        std::string(1000000, ']') + "}"));
}

TEST_F(ConfigFileTest, MasterSdkSwitch) {
  ASSERT_TRUE(ParseText("{}"));
  EXPECT_TRUE(framework_cfg->master_sdk);
  EXPECT_TRUE(log.Has("info set master/slave sdk to master sdk by default"));
  ASSERT_TRUE(ParseText(R"({"master_sdk": false})"));
  EXPECT_FALSE(framework_cfg->master_sdk);
  EXPECT_TRUE(log.Has("info set master/slave sdk to slave sdk"));
  ASSERT_TRUE(ParseText(R"({"master_sdk": true})"));
  EXPECT_TRUE(framework_cfg->master_sdk);
  EXPECT_TRUE(log.Has("info set master/slave sdk to master sdk  ["));

  log.Clear();
  EXPECT_FALSE(ParseText(R"({"master_sdk": "true"})"));
  EXPECT_TRUE(log.Has("error set master/slave sdk error"));
  ASSERT_NE(type_cfgs, nullptr) << "outputs stay valid after a later failure";
  ASSERT_NE(logger_cfg, nullptr);
}

TEST_F(ConfigFileTest, LoggerSettings) {
  ASSERT_TRUE(ParseText("{}"));
  EXPECT_FALSE(logger_cfg->lidar_log_enable);
  EXPECT_EQ(logger_cfg->lidar_log_cache_size, 0u);
  EXPECT_EQ(logger_cfg->lidar_log_path, "./");
  EXPECT_TRUE(log.Has("info Lidar logger disable."));

  ASSERT_TRUE(ParseText(R"({"lidar_log_path": "/tmp/logs", "lidar_log_cache_size_MB": 9})"));
  EXPECT_EQ(logger_cfg->lidar_log_path, "/tmp/logs");
  EXPECT_EQ(logger_cfg->lidar_log_cache_size, 0u);

  log.Clear();
  ASSERT_TRUE(ParseText(
      R"({"lidar_log_enable": true, "lidar_log_cache_size_MB": 500, "lidar_log_path": "./l"})"));
  EXPECT_TRUE(logger_cfg->lidar_log_enable);
  EXPECT_EQ(logger_cfg->lidar_log_cache_size, 500u);
  EXPECT_EQ(logger_cfg->lidar_log_path, "./l");
  EXPECT_TRUE(log.Has(
      "Lidar log cfg, lidar_log_enable:true, lidar_log_cache_size_MB:500, lidar_log_path:./l"));

  EXPECT_FALSE(ParseText(R"({"lidar_log_enable": 1})"));
  EXPECT_TRUE(log.Has("error Lidar log enable data type is error"));
  EXPECT_FALSE(ParseText(R"({"lidar_log_enable": false, "lidar_log_path": "./"})"));
  EXPECT_TRUE(log.Has("Parse json file failed, has not lidar_log_cache_size_MB member or "
                      "lidar_log_cache_size_MB is uint"));
  EXPECT_FALSE(ParseText(R"({"lidar_log_enable": false, "lidar_log_cache_size_MB": -1,
                              "lidar_log_path": "./"})"));
  log.Clear();
  EXPECT_FALSE(ParseText(R"({"lidar_log_enable": false, "lidar_log_cache_size_MB": 1})"));
  EXPECT_TRUE(log.Has("Parse json file failed, has not lidar_log_path member or lidar_log_path "
                      "is uint"));
}

// "log_level" quietens the layer's console logger from its own parse on; a value it does not
// know refuses the file, by name.
TEST_F(ConfigFileTest, LogLevel) {
  ASSERT_TRUE(ParseText(R"({"log_level": "warn"})"));
  EXPECT_FALSE(log.Has("Lidar logger disable."));
  LIDAR_LOG_WARN("a warning");
  EXPECT_TRUE(log.Has("warning a warning"));
  ASSERT_TRUE(ParseText(R"({"log_level": "error"})"));
  LIDAR_LOG_WARN("another warning");
  EXPECT_FALSE(log.Has("another warning"));
  ASSERT_TRUE(ParseText(R"({"log_level": "info"})"));
  EXPECT_TRUE(log.Has("info Lidar logger disable."));
  for (const char* bad : {R"("loud")", R"("WARN")", "2", "null", "[]"}) {
    log.Clear();
    EXPECT_FALSE(ParseText(std::string(R"({"log_level": )") + bad + "}")) << bad;
    EXPECT_TRUE(log.Has(R"(Parse json file failed, log_level must be "info", "warn" or "error")"))
        << bad;
  }
}

TEST_F(ConfigFileTest, OldFormHostObjectYieldsOnePerTypeRecord) {
  ASSERT_TRUE(ParseOmni(Host(R"("host_ip": "10.0.0.5", "multicast_ip": "239.1.1.1")")));
  ASSERT_EQ(type_cfgs->size(), 1u);
  EXPECT_TRUE(custom_cfgs->empty());
  const LidarCfg& cfg = type_cfgs->front();
  EXPECT_EQ(cfg.device_type, kDeviceTypeOmni);
  EXPECT_EQ(cfg.lidar_net_info.lidar_ip, "");
  EXPECT_EQ(cfg.lidar_net_info.cmd_data_port, 56100);
  EXPECT_EQ(cfg.lidar_net_info.push_msg_port, 56200);
  EXPECT_EQ(cfg.lidar_net_info.point_data_port, 56300);
  EXPECT_EQ(cfg.lidar_net_info.imu_data_port, 56400);
  EXPECT_EQ(cfg.lidar_net_info.log_data_port, 56500);
  EXPECT_EQ(cfg.host_net_info.host_ip, "10.0.0.5");
  EXPECT_EQ(cfg.host_net_info.multicast_ip, "239.1.1.1");
  EXPECT_EQ(cfg.host_net_info.cmd_data_port, 56101);
  EXPECT_EQ(cfg.host_net_info.push_msg_port, 56201);
  EXPECT_EQ(cfg.host_net_info.point_data_port, 56301);
  EXPECT_EQ(cfg.host_net_info.imu_data_port, 56401);
  EXPECT_EQ(cfg.host_net_info.log_data_port, 56501);
}

TEST_F(ConfigFileTest, HostAddressKeys) {
  ASSERT_TRUE(ParseOmni(Host(R"("cmd_data_ip": "10.0.0.7")")));
  EXPECT_EQ(type_cfgs->front().host_net_info.host_ip, "10.0.0.7");
  ASSERT_TRUE(ParseOmni(Host(R"("host_ip": "10.0.0.5", "cmd_data_ip": "10.0.0.7")")));
  EXPECT_EQ(type_cfgs->front().host_net_info.host_ip, "10.0.0.5");
  ASSERT_TRUE(ParseOmni(Host(R"("cmd_data_ip": "10.0.0.7", "host_ip": "10.0.0.5")")));
  EXPECT_EQ(type_cfgs->front().host_net_info.host_ip, "10.0.0.5");
}

TEST_F(ConfigFileTest, NewFormSplitsPerTypeAndCustomRecords) {
  ASSERT_TRUE(ParseOmni("[" + Host(R"("host_ip": "10.0.0.5")") + ", " +
                        Host(R"("host_ip": "10.0.0.6", "lidar_ip": ["10.0.0.20", 3, "10.0.0.21"])") +
                        "]"));
  ASSERT_EQ(type_cfgs->size(), 1u);
  EXPECT_EQ(type_cfgs->front().host_net_info.host_ip, "10.0.0.5");
  ASSERT_EQ(custom_cfgs->size(), 2u) << "non-string addresses are skipped";
  EXPECT_EQ((*custom_cfgs)[0].lidar_net_info.lidar_ip, "10.0.0.20");
  EXPECT_EQ((*custom_cfgs)[1].lidar_net_info.lidar_ip, "10.0.0.21");
  EXPECT_EQ((*custom_cfgs)[1].host_net_info.host_ip, "10.0.0.6");
  EXPECT_EQ((*custom_cfgs)[1].lidar_net_info.point_data_port, 56300);

  ASSERT_TRUE(ParseOmni("[]"));
  EXPECT_TRUE(type_cfgs->empty());
  EXPECT_TRUE(custom_cfgs->empty());
}

TEST_F(ConfigFileTest, NewFormFailuresKeepEarlierRecords) {
  EXPECT_FALSE(ParseOmni("[" + Host(R"("host_ip": "10.0.0.5")") + ", " +
                         Host(R"("host_ip": "10.0.0.6", "lidar_ip": "10.0.0.20")") + "]"));
  EXPECT_TRUE(
      log.Has("Parse lidar ip failed, has not lidar_ip member or lidar_ip is not object."));
  EXPECT_TRUE(log.Has("error Parse lidar new cfg failed."));
  EXPECT_EQ(type_cfgs->size(), 1u);

  log.Clear();
  EXPECT_FALSE(ParseOmni("[5]"));
  EXPECT_TRUE(log.Has("Parse host net info failed, has not host_ip or cmd_data_ip."));
  EXPECT_TRUE(log.Has("error Parse host net info failed.  ["));
}

TEST_F(ConfigFileTest, SectionsAndTheirOrder) {
  ASSERT_TRUE(ParseText(R"({"OMNI": )" + Section(Host(R"("host_ip": "1.1.1.1")")) +
                        R"(, "FORWARD": )" + Section(Host(R"("host_ip": "2.2.2.2")")) +
                        R"(, "MID": )" + Section(Host(R"("host_ip": "3.3.3.3")")) + "}"));
  ASSERT_EQ(type_cfgs->size(), 2u);
  EXPECT_EQ((*type_cfgs)[0].device_type, kDeviceTypeForward);
  EXPECT_EQ((*type_cfgs)[1].device_type, kDeviceTypeOmni);

  ASSERT_TRUE(ParseText(R"({"OMNI": [1], "FORWARD": "x"})"));
  EXPECT_TRUE(type_cfgs->empty());

  EXPECT_FALSE(ParseText(R"({"OMNI": {)" + std::string(kLidarPorts) + "}}"));
  EXPECT_TRUE(log.Has("Parse lidar net info failed, has not host_net_info member or "
                      "host_net_info is not object or arry."));
  EXPECT_FALSE(ParseText(R"({"OMNI": {)" + std::string(kLidarPorts) +
                         R"(, "host_net_info": "10.0.0.1"}})"));
}

TEST_F(ConfigFileTest, LidarNetInfoErrors) {
  EXPECT_FALSE(ParseText(R"({"OMNI": {"host_net_info": )" + Host(R"("host_ip": "1.1.1.1")") +
                         "}}"));
  EXPECT_TRUE(log.Has("Parse lidar net info failed, has not lidar_net_info member or "
                      "lidar_net_info is not object."));
  EXPECT_TRUE(log.Has("error Parse lidar net info failed.  ["));
  EXPECT_TRUE(log.Has("error Parse lidar old cfg failed."));

  const char* keys[] = {"cmd_data_port", "push_msg_port", "point_data_port", "imu_data_port",
                        "log_data_port"};
  for (const char* key : keys) {
    std::string ports = kLidarPorts;
    const auto at = ports.find(key);
    ports.replace(at, std::string(key).size(), "other");
    log.Clear();
    EXPECT_FALSE(ParseText(R"({"OMNI": {)" + ports + R"(, "host_net_info": )" +
                           Host(R"("host_ip": "1.1.1.1")") + "}}"));
    EXPECT_TRUE(log.Has(std::string("Parse lidar net info failed, has not ") + key +
                        " member or " + key + " is not uint."))
        << key;
  }
}

TEST_F(ConfigFileTest, HostNetInfoErrors) {
  struct Case {
    std::string host;
    std::string message;
  };
  const Case cases[] = {
      {Host(""), "Parse host net info failed, has not host_ip or cmd_data_ip."},
      {Host(R"("host_ip": 1, "cmd_data_ip": 2)"), "Parse host net info failed, host_ip is not string."},
      {Host(R"("host_ip": "1.1.1.1", "cmd_data_ip": 2)"),
       "Parse host net info failed, cmd_data_ip is not string."},
      {Host(R"("host_ip": "1.1.1.1", "multicast_ip": null)"),
       "Parse host net info failed, has not multicast_ip or multicast_ip is not string."},
      {R"({"host_ip": "1.1.1.1", "push_msg_port": 1, "point_data_port": 1, "imu_data_port": 1,
          "log_data_port": 1})",
       "Parse host net info failed, has not cmd_data_port or cmd_data_port is not uint."},
      {R"({"host_ip": "1.1.1.1", "cmd_data_port": 1, "point_data_port": 1, "imu_data_port": 1,
          "log_data_port": 1})",
       "Parse host net info failed, has not push_msg_port or push_msg_port is not uint."},
      {R"({"host_ip": "1.1.1.1", "cmd_data_port": 1, "push_msg_port": 1, "imu_data_port": 1,
          "log_data_port": 1})",
       "Parse host net info failed, has not point_data_port or point_data_port is not uint."},
      {R"({"host_ip": "1.1.1.1", "cmd_data_port": 1, "push_msg_port": 1, "point_data_port": 1,
          "imu_data_port": -4, "log_data_port": 1})",
       "Parse host net info failed, has not imu_data_port or imu_data_port is not uint."},
      {R"({"host_ip": "1.1.1.1", "cmd_data_port": 1, "push_msg_port": 1, "point_data_port": 1,
          "imu_data_port": 1, "log_data_port": 1.5})",
       "Parse host net info failed, has not log_data_port or log_data_port is not uint."},
  };
  for (const auto& c : cases) {
    log.Clear();
    EXPECT_FALSE(ParseOmni(c.host)) << c.host;
    EXPECT_TRUE(log.Has(c.message)) << c.host << "\n" << log.Text();
    EXPECT_TRUE(log.Has("error Parse host net info failed.  [")) << c.host;
  }
}

// A port beyond 16 bits was wrapped into another one (70000 became 4464), which the LiDAR was
// then told to use; an address that is no address was sent on as given.
TEST_F(ConfigFileTest, OutOfRangePortsAndMalformedAddressesAreRefusedByName) {
  ASSERT_TRUE(ParseOmni(R"({"host_ip": "local", "cmd_data_port": 0, "push_msg_port": 1,
      "point_data_port": 1, "imu_data_port": 1, "log_data_port": 65535})"));
  EXPECT_FALSE(ParseOmni(R"({"host_ip": "1.1.1.1", "cmd_data_port": 1, "push_msg_port": 1,
      "point_data_port": 70000, "imu_data_port": 1, "log_data_port": 1})"));
  EXPECT_TRUE(
      log.Has("Parse host net info failed, point_data_port is 70000, out of the port "
              "range 0 to 65535."));
  EXPECT_FALSE(ParseOmni(Host(R"("host_ip": "192.168.1.256")")));
  EXPECT_TRUE(log.Has("host_ip is not an IPv4 address: \"192.168.1.256\"."));
  EXPECT_FALSE(ParseOmni("[" + Host(R"("host_ip": "1.1.1.1", "lidar_ip": ["10.0.0.300"])") + "]"));
  EXPECT_TRUE(log.Has("Parse lidar ip failed, lidar_ip is not an IPv4 address: \"10.0.0.300\"."));
}

TEST_F(ConfigFileTest, InvalidJsonNamesLineAndColumn) {
  EXPECT_FALSE(ParseText("{\n  \"OMNI\": {\n    \"lidar_net_info\": {,}\n}"));
  EXPECT_TRUE(log.Has("Parse lidar config failed at line 3 column 24: ")) << log.Text();
}

LidarCfg Record(uint8_t type, const std::string& lidar_ip, const std::string& multicast = "") {
  LidarCfg cfg;
  cfg.device_type = type;
  cfg.lidar_net_info = {lidar_ip, 56100, 56200, 56300, 56400, 56500};
  cfg.host_net_info.host_ip = "127.0.0.1";
  cfg.host_net_info.multicast_ip = multicast;
  return cfg;
}

std::shared_ptr<LidarCfgList> List(std::initializer_list<LidarCfg> records) {
  return std::make_shared<LidarCfgList>(records);
}

class ParamsCheckTest : public ::testing::Test {
 protected:
  testing::LogCapture log;
};

TEST_F(ParamsCheckTest, MissingOrEmptyConfiguration) {
  EXPECT_FALSE(ParamsCheck(nullptr, nullptr).Check());
  EXPECT_TRUE(log.Has("error Params check failed, all params is nullptr."));
  EXPECT_FALSE(ParamsCheck(List({}), nullptr).Check());
  EXPECT_TRUE(log.Has("error Params check failed, all lidars config is empty."));
  EXPECT_TRUE(ParamsCheck(nullptr, List({Record(kDeviceTypeOmni, "10.0.0.2")})).Check());
}

TEST_F(ConfigFileTest, FileWithoutSectionsOrWithEmptyHostListFailsTheCheck) {
  for (const std::string& json : {std::string(R"({"master_sdk": true})"),
                                  R"({"OMNI": )" + Section("[]") + "}"}) {
    log.Clear();
    ASSERT_TRUE(ParseText(json));
    EXPECT_FALSE(ParamsCheck(type_cfgs, custom_cfgs).Check());
    EXPECT_TRUE(log.Has("Params check failed, all lidars config is empty."));
  }
}

TEST_F(ParamsCheckTest, LidarAddressConflicts) {
  EXPECT_FALSE(ParamsCheck(List({Record(9, "10.0.0.2"), Record(10, "10.0.0.2")}), nullptr).Check());
  EXPECT_TRUE(log.Has("Params check failed, lidar ip conflict, the liar ip:10.0.0.2"));

  EXPECT_FALSE(ParamsCheck(List({}), List({Record(9, "10.0.0.3"), Record(9, "10.0.0.3")})).Check());
  EXPECT_TRUE(log.Has("Params check failed, lidar ip conflict the lidar ip:10.0.0.3"));

  EXPECT_FALSE(ParamsCheck(List({Record(9, "10.0.0.4")}), List({Record(9, "10.0.0.4")})).Check());
  EXPECT_TRUE(log.Has("Params check failed, lidar ip conflict the lidar ip:10.0.0.4"));

  EXPECT_FALSE(ParamsCheck(List({}), List({Record(9, "")})).Check());
  EXPECT_TRUE(log.Has("Params check failed, custom lidar ipaddr is empty."));

  EXPECT_TRUE(ParamsCheck(List({Record(9, ""), Record(10, "")}), List({Record(9, "10.0.0.5")}))
                  .Check());
}

TEST_F(ParamsCheckTest, OmniLidarPortsAreCorrectedNotRefused) {
  auto types = List({Record(kDeviceTypeOmni, "")});
  types->front().lidar_net_info.cmd_data_port = 56101;
  auto customs = List({Record(kDeviceTypeOmni, "10.0.0.2"), Record(kDeviceTypeForward, "10.0.0.3")});
  (*customs)[0].lidar_net_info = {"10.0.0.2", 1, 2, 3, 4, 5};
  (*customs)[1].lidar_net_info = {"10.0.0.3", 1, 2, 3, 4, 5};

  ASSERT_TRUE(ParamsCheck(types, customs).Check());
  EXPECT_EQ(types->front().lidar_net_info.cmd_data_port, 56100);
  const LidarNetInfo& omni = (*customs)[0].lidar_net_info;
  EXPECT_EQ(omni.cmd_data_port, 56100);
  EXPECT_EQ(omni.push_msg_port, 56200);
  EXPECT_EQ(omni.point_data_port, 56300);
  EXPECT_EQ(omni.imu_data_port, 56400);
  EXPECT_EQ(omni.log_data_port, 56500);
  EXPECT_EQ((*customs)[1].lidar_net_info.cmd_data_port, 1) << "only Omni ports are fixed";
  EXPECT_EQ((*customs)[1].host_net_info.cmd_data_port, 0) << "host ports are not checked";

  const std::string text = log.Text();
  std::size_t count = 0;
  for (auto at = text.find("error Omni lidar command data port must be 56100"); at != std::string::npos;
       at = text.find("error Omni lidar command data port must be 56100", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 2u);
  EXPECT_TRUE(log.Has("error Omni lidar push msg port must be 56200"));
  EXPECT_TRUE(log.Has("error Omni lidar point cloud port must be 56300"));
  EXPECT_TRUE(log.Has("error Omni lidar imu data port must be 56400"));
  EXPECT_TRUE(log.Has("error Omni lidar log port must be 56500"));
}

TEST_F(ParamsCheckTest, MulticastGroupBounds) {
  auto check = [](const std::string& group) {
    return ParamsCheck(List({Record(kDeviceTypeOmni, "", group)}), nullptr).Check();
  };
  EXPECT_TRUE(check(""));
  EXPECT_TRUE(log.Has("info Device type:9 point cloud data and IMU data unicast is enabled."));
  EXPECT_TRUE(check("224.0.0.1"));
  EXPECT_TRUE(log.Has("info Device type:9 point cloud and IMU data multicast ip:224.0.0.1"));
  EXPECT_TRUE(check("239.255.255.255"));
  for (const char* bad : {"224.0.0.0", "240.0.0.0", "192.168.1.50", "224.0.0", "224.0.0.1.5",
                          "239.256.0.1", "2a4.0.0.1", "224.0.0.1 ", "1224.0.0.1"}) {
    log.Clear();
    EXPECT_FALSE(check(bad)) << bad;
    EXPECT_TRUE(log.Has(std::string("error Params check failed, lidar multicast ip error:") + bad))
        << bad;
  }

  EXPECT_TRUE(ParamsCheck(nullptr, List({Record(kDeviceTypeOmni, "10.0.0.2", "239.0.0.9"),
                                         Record(kDeviceTypeOmni, "10.0.0.3")}))
                  .Check());
  EXPECT_TRUE(log.Has("info Lidar ip:10.0.0.2 point cloud and IMU data multicast ip:239.0.0.9"));
  EXPECT_TRUE(log.Has("info Lidar ip:10.0.0.3 point cloud data and IMU data unicast is enabled."));
  EXPECT_FALSE(ParamsCheck(nullptr, List({Record(kDeviceTypeOmni, "10.0.0.2", "10.0.0.9")}))
                   .Check());
}

}  // namespace
}  // namespace lidar::sdk
