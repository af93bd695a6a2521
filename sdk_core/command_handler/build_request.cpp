#include "build_request.h"

#include <cctype>

#include "lidar_byte_io.h"
#include "lidar_keys.h"
#include "lidar_sdk.h"
#include "base/sdk_log.h"
#include "device_ports.h"

namespace lidar::sdk {
namespace {

constexpr uint16_t kCfgHeaderLength = 4;  // key_num u16, reserved u16

struct AddressMessages {
  const char* multicast;  // logged when the multicast group is not a valid address
  const char* host;       // logged when the host address is not a valid address
};

constexpr AddressMessages kPointCloudMessages{
    "Build update lidar cfg request failed, init pointcloud multicast ip addr failed.",
    "Build update lidar cfg request failed, init pointcloud host ip addr failed."};
constexpr AddressMessages kImuMessages{
    "Build update lidar cfg request failed, init imu multicast ip addr failed.",
    "Build update lidar cfg request failed, init imu host ip addr failed."};
constexpr const char* kStateInfoHostMessage =
    "Build update lidar cfg request failed, init host ip addr failed.";
constexpr const char* kStateInfoMulticastMessage =
    "Build update lidar cfg request failed, init pointcloud multicast ip addr failed.";

// Writes one host-address entry (key, length 8, address, dst_port, src_port) at `length` and
// moves `length` past it. The address field is filled by the caller.
uint8_t* AppendEntry(uint8_t* buffer, uint16_t& length, uint16_t key, uint16_t dst_port,
                     uint16_t src_port) {
  uint8_t* entry = buffer + length;
  store_le<uint16_t>(entry, key);
  uint8_t* value = entry + 4;
  store_le<uint16_t>(entry + 2, kHostIpCfgValueLength);
  store_le<uint16_t>(value + kHostIpCfgDstPortOffset, dst_port);
  store_le<uint16_t>(value + kHostIpCfgSrcPortOffset, src_port);
  length = static_cast<uint16_t>(length + 4 + kHostIpCfgValueLength);
  return value;
}

// Address A of an entry: the multicast group when the record names one, else the host address.
bool InitDataAddr(const HostNetInfo& host, uint8_t* addr, const AddressMessages& messages) {
  if (!host.multicast_ip.empty()) {
    if (!InitIpAddr(host.multicast_ip, addr)) {
      LIDAR_LOG_ERROR("{}", messages.multicast);
      return false;
    }
    return true;
  }
  if (!InitIpAddr(host.host_ip, addr)) {
    LIDAR_LOG_ERROR("{}", messages.host);
    return false;
  }
  return true;
}

bool SourcePorts(uint8_t dev_type, uint16_t& point_port, uint16_t& imu_port) {
  switch (dev_type) {
    case kDeviceTypeForward:
      point_port = kForwardPointDataPort;
      imu_port = kForwardImuDataPort;
      return true;
    case kDeviceTypeOmni:
      point_port = kOmniPointDataPort;
      imu_port = kOmniImuDataPort;
      return true;
    case kDeviceTypeThirdParty:
      point_port = kThirdPartyPointDataPort;
      imu_port = 0;
      return true;
    default:
      LIDAR_LOG_ERROR("Build update lidar cfg request failed, unknown the dev_type:{}", dev_type);
      return false;
  }
}

bool IsDecimal(const std::string& piece) {
  if (piece.empty()) return false;
  for (char c : piece) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

bool IpToU8(const std::string& ip, const std::string& separator, std::vector<uint8_t>& out) {
  if (separator.empty()) return false;
  std::size_t count = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = ip.find(separator, start);
    const std::string piece =
        ip.substr(start, end == std::string::npos ? std::string::npos : end - start);
    // Leading zeros are allowed, so only the length after them decides whether it can fit.
    const std::size_t first = piece.find_first_not_of('0');
    const bool fits = first == std::string::npos || piece.size() - first <= 3;
    const unsigned long value = IsDecimal(piece) && fits ? std::stoul(piece) : 256;
    if (value > 255) {
      LIDAR_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the fault val:{}",
                      ip, piece);
      return false;
    }
    out.push_back(static_cast<uint8_t>(value));
    ++count;
    if (end == std::string::npos) break;
    start = end + separator.size();
  }
  if (count != 4) {
    LIDAR_LOG_ERROR("Build broadcast request failed, ip to u8 failed, the ip:{}, the val size:{}",
                    ip, count);
    return false;
  }
  return true;
}

bool InitIpAddr(const std::string& ip, uint8_t* addr) {
  if (addr == nullptr) return false;
  std::vector<uint8_t> octets;
  if (!IpToU8(ip, ".", octets)) return false;
  for (std::size_t i = 0; i < 4; ++i) addr[i] = octets[i];
  return true;
}

bool BuildUpdateOmniLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length) {
  const HostNetInfo& host = cfg.host_net_info;
  store_le<uint16_t>(buffer, 3);
  length = kCfgHeaderLength;

  // The state information always goes to the host, but a multicast group takes the address
  // field once the host address has been checked.
  uint8_t* addr =
      AppendEntry(buffer, length, kKeyStateInfoHostIpCfg, host.push_msg_port, kOmniPushMsgPort);
  if (!InitIpAddr(host.host_ip, addr)) {
    LIDAR_LOG_ERROR("{}", kStateInfoHostMessage);
    return false;
  }
  if (!InitDataAddr(host, addr, {kStateInfoMulticastMessage, kStateInfoHostMessage})) return false;

  addr = AppendEntry(buffer, length, kKeyPointCloudHostIpCfg, host.point_data_port,
                     kOmniPointDataPort);
  if (!InitDataAddr(host, addr, kPointCloudMessages)) return false;

  addr = AppendEntry(buffer, length, kKeyImuHostIpCfg, host.imu_data_port, kOmniImuDataPort);
  return InitDataAddr(host, addr, kImuMessages);
}

bool BuildUpdateLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length) {
  const HostNetInfo& host = cfg.host_net_info;
  const bool point_only = cfg.device_type == kDeviceTypeThirdParty;
  store_le<uint16_t>(buffer, point_only ? 1 : 2);
  length = kCfgHeaderLength;

  uint16_t point_port = 0;
  uint16_t imu_port = 0;
  if (!SourcePorts(cfg.device_type, point_port, imu_port)) return false;

  uint8_t* addr =
      AppendEntry(buffer, length, kKeyPointCloudHostIpCfg, host.point_data_port, point_port);
  if (!InitDataAddr(host, addr, kPointCloudMessages)) return false;
  if (point_only) return true;

  addr = AppendEntry(buffer, length, kKeyImuHostIpCfg, host.imu_data_port, imu_port);
  return InitDataAddr(host, addr, kImuMessages);
}

bool BuildUpdateViewLidarCfgRequest(const ViewLidarIpInfo& info, uint8_t* buffer,
                                    uint16_t& length) {
  const bool point_only = info.dev_type == kDeviceTypeThirdParty;
  store_le<uint16_t>(buffer, point_only ? 1 : 2);
  length = kCfgHeaderLength;

  uint8_t* addr = AppendEntry(buffer, length, kKeyPointCloudHostIpCfg, info.host_point_port,
                              info.lidar_point_port);
  if (!InitIpAddr(info.host_ip, addr)) {
    LIDAR_LOG_ERROR("Build update view lidar cfg request failed, init host ip addr failed.");
    return false;
  }
  if (point_only) return true;

  addr = AppendEntry(buffer, length, kKeyImuHostIpCfg, info.host_imu_port, info.lidar_imu_port);
  if (!InitIpAddr(info.host_ip, addr)) {
    LIDAR_LOG_ERROR("Build update view lidar cfg request failed, init imu host ip addr failed.");
    return false;
  }
  return true;
}

}  // namespace lidar::sdk
