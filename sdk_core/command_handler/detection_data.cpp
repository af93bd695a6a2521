#include "detection_data.h"

#include <cstring>

#include "lidar_byte_io.h"
#include "base/ipv4_address.h"

namespace lidar::sdk {

bool ParseDetectionData(const uint8_t* data, std::size_t size, DetectionData* out) {
  if (out == nullptr) return false;
  ByteReader reader(data, size);
  DetectionData decoded;
  const uint8_t* sn = nullptr;
  const uint8_t* ip = nullptr;
  if (!reader.read(decoded.ret_code) || !reader.read(decoded.dev_type) ||
      (sn = reader.take(sizeof(decoded.sn))) == nullptr ||
      (ip = reader.take(sizeof(decoded.lidar_ip))) == nullptr || !reader.read(decoded.cmd_port)) {
    return false;
  }
  std::memcpy(decoded.sn, sn, sizeof(decoded.sn));
  std::memcpy(decoded.lidar_ip, ip, sizeof(decoded.lidar_ip));
  *out = decoded;
  return true;
}

std::string SerialNumber(const DetectionData& data) {
  return std::string(data.sn, strnlen(data.sn, sizeof(data.sn)));
}

std::string LidarIpText(const DetectionData& data) {
  uint32_t address = 0;
  std::memcpy(&address, data.lidar_ip, sizeof(address));
  return HandleToIp(address);
}

}  // namespace lidar::sdk
