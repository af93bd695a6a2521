#include "params_check.h"

#include <cstring>
#include <set>
#include <string>

#include "lidar_sdk.h"
#include "base/ipv4_address.h"
#include "base/sdk_log.h"
#include "device_ports.h"

namespace lidar::sdk {
namespace {

constexpr uint32_t kMulticastFirst = 0xE0000001u;  // 224.0.0.1
constexpr uint32_t kMulticastLast = 0xEFFFFFFFu;   // 239.255.255.255

// A group the socket layer can join: text it cannot parse is refused here, where the
// configuration error is named, rather than left to a join that fails.
bool IsMulticastGroup(const std::string& address) {
  uint32_t group = 0;
  if (!ParseIpv4(address, &group)) return false;
  uint8_t octets[4];
  std::memcpy(octets, &group, sizeof(octets));
  const uint32_t value = (uint32_t{octets[0]} << 24) | (uint32_t{octets[1]} << 16) |
                         (uint32_t{octets[2]} << 8) | octets[3];
  return value >= kMulticastFirst && value <= kMulticastLast;
}

}  // namespace

ParamsCheck::ParamsCheck(std::shared_ptr<LidarCfgList> type_cfgs,
                         std::shared_ptr<LidarCfgList> custom_cfgs)
    : type_cfgs_(std::move(type_cfgs)), custom_cfgs_(std::move(custom_cfgs)) {}

bool ParamsCheck::Check() {
  if (!type_cfgs_ && !custom_cfgs_) {
    LIDAR_LOG_ERROR("Params check failed, all params is nullptr.");
    return false;
  }
  // A missing list counts as an empty one.
  if (!type_cfgs_) type_cfgs_ = std::make_shared<LidarCfgList>();
  if (!custom_cfgs_) custom_cfgs_ = std::make_shared<LidarCfgList>();
  if (type_cfgs_->empty() && custom_cfgs_->empty()) {
    LIDAR_LOG_ERROR("Params check failed, all lidars config is empty.");
    return false;
  }
  if (!CheckLidarIp()) return false;
  for (auto& cfg : *type_cfgs_) CheckPort(cfg);
  for (auto& cfg : *custom_cfgs_) CheckPort(cfg);
  return CheckLidarMulticastIp();
}

bool ParamsCheck::CheckLidarIp() {
  std::set<std::string> addresses;
  for (const auto& cfg : *type_cfgs_) {
    const std::string& ip = cfg.lidar_net_info.lidar_ip;
    if (ip.empty()) continue;
    if (!addresses.insert(ip).second) {
      LIDAR_LOG_ERROR("Params check failed, lidar ip conflict, the liar ip:{}", ip);
      return false;
    }
  }
  for (const auto& cfg : *custom_cfgs_) {
    const std::string& ip = cfg.lidar_net_info.lidar_ip;
    if (ip.empty()) {
      LIDAR_LOG_ERROR("Params check failed, custom lidar ipaddr is empty.");
      return false;
    }
    if (!addresses.insert(ip).second) {
      LIDAR_LOG_ERROR("Params check failed, lidar ip conflict the lidar ip:{}", ip);
      return false;
    }
  }
  return true;
}

void ParamsCheck::CheckPort(LidarCfg& cfg) {
  if (cfg.device_type != kDeviceTypeOmni) return;
  LidarNetInfo& net = cfg.lidar_net_info;
  if (net.cmd_data_port != kOmniCmdPort) {
    LIDAR_LOG_ERROR("Omni lidar command data port must be {}", kOmniCmdPort);
    net.cmd_data_port = kOmniCmdPort;
  }
  if (net.push_msg_port != kOmniPushMsgPort) {
    LIDAR_LOG_ERROR("Omni lidar push msg port must be {}", kOmniPushMsgPort);
    net.push_msg_port = kOmniPushMsgPort;
  }
  if (net.point_data_port != kOmniPointDataPort) {
    LIDAR_LOG_ERROR("Omni lidar point cloud port must be {}", kOmniPointDataPort);
    net.point_data_port = kOmniPointDataPort;
  }
  if (net.imu_data_port != kOmniImuDataPort) {
    LIDAR_LOG_ERROR("Omni lidar imu data port must be {}", kOmniImuDataPort);
    net.imu_data_port = kOmniImuDataPort;
  }
  if (net.log_data_port != kOmniLogPort) {
    LIDAR_LOG_ERROR("Omni lidar log port must be {}", kOmniLogPort);
    net.log_data_port = kOmniLogPort;
  }
}

bool ParamsCheck::CheckLidarMulticastIp() {
  for (const auto& cfg : *type_cfgs_) {
    const std::string& group = cfg.host_net_info.multicast_ip;
    const int device_type = cfg.device_type;
    if (group.empty()) {
      LIDAR_LOG_INFO("Device type:{} point cloud data and IMU data unicast is enabled.",
                     device_type);
    } else if (IsMulticastGroup(group)) {
      LIDAR_LOG_INFO("Device type:{} point cloud and IMU data multicast ip:{}", device_type, group);
    } else {
      LIDAR_LOG_ERROR("Params check failed, lidar multicast ip error:{}", group);
      return false;
    }
  }
  for (const auto& cfg : *custom_cfgs_) {
    const std::string& group = cfg.host_net_info.multicast_ip;
    const std::string& lidar_ip = cfg.lidar_net_info.lidar_ip;
    if (group.empty()) {
      LIDAR_LOG_INFO("Lidar ip:{} point cloud data and IMU data unicast is enabled.", lidar_ip);
    } else if (IsMulticastGroup(group)) {
      LIDAR_LOG_INFO("Lidar ip:{} point cloud and IMU data multicast ip:{}", lidar_ip, group);
    } else {
      LIDAR_LOG_ERROR("Params check failed, lidar multicast ip error:{}", group);
      return false;
    }
  }
  return true;
}

}  // namespace lidar::sdk
