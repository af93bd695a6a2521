// Records the SDK configuration file is parsed into, and the view-LiDAR record of
// host-address mode.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lidar::sdk {

struct LidarNetInfo {
  std::string lidar_ip;  // empty in a per-type record
  uint16_t cmd_data_port = 0;
  uint16_t push_msg_port = 0;
  uint16_t point_data_port = 0;
  uint16_t imu_data_port = 0;
  uint16_t log_data_port = 0;
};

struct HostNetInfo {
  std::string host_ip;
  std::string multicast_ip;  // empty: unicast
  uint16_t cmd_data_port = 0;
  uint16_t push_msg_port = 0;
  uint16_t point_data_port = 0;
  uint16_t imu_data_port = 0;
  uint16_t log_data_port = 0;
};

struct LidarCfg {
  uint8_t device_type = 0;
  LidarNetInfo lidar_net_info;
  HostNetInfo host_net_info;
};

using LidarCfgList = std::vector<LidarCfg>;

struct LidarSdkFrameworkCfg {
  bool master_sdk = false;
};

struct LidarLoggerCfg {
  bool lidar_log_enable = false;
  uint64_t lidar_log_cache_size = 0;  // MB, as written in the file
  std::string lidar_log_path;
};

struct ViewLidarIpInfo {
  uint32_t handle = 0;
  uint8_t dev_type = 0;
  std::string host_ip;
  uint16_t lidar_cmd_port = 0;
  uint16_t lidar_point_port = 0;
  uint16_t lidar_imu_port = 0;
  uint16_t host_point_port = 0;
  uint16_t host_imu_port = 0;
};

constexpr uint8_t kDeviceTypeThirdParty = 16;  // known to the protocol, no handler here

}  // namespace lidar::sdk
