#include "params_check.h"

#include <optional>
#include <set>
#include <string>

#include "lidar_sdk.h"
#include "sdk_core/base/sdk_log.h"

namespace lidar::sdk {
namespace {

constexpr uint32_t kMulticastFirst = 0xE0000001u;  // 224.0.0.1
constexpr uint32_t kMulticastLast = 0xEFFFFFFFu;   // 239.255.255.255

// Dotted quad "a.b.c.d" of decimal octets as a·2^24 + b·2^16 + c·2^8 + d; nothing when the text
// is not four octets of 0 to 255.
std::optional<uint32_t> DottedQuadValue(const std::string& text) {
  uint32_t value = 0;
  std::size_t pos = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    uint32_t part = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      part = part * 10 + static_cast<uint32_t>(text[pos] - '0');
      ++pos;
    }
    if (pos == start || part > 255) return std::nullopt;
    value = (value << 8) | part;
  }
  if (pos != text.size()) return std::nullopt;
  return value;
}

bool IsMulticastGroup(const std::string& address) {
  const auto value = DottedQuadValue(address);
  return value && *value >= kMulticastFirst && *value <= kMulticastLast;
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
