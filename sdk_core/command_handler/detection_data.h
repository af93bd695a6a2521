// The payload of a detection reply, decoded from its 24 little-endian bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lidar::sdk {

constexpr std::size_t kDetectionDataSize = 24;

struct DetectionData {
  uint8_t ret_code = 0;  // 0: valid reply
  uint8_t dev_type = 0;
  char sn[16] = {};      // NUL-terminated when shorter than 16
  uint8_t lidar_ip[4] = {};  // first octet first
  uint16_t cmd_port = 0;
};

// Decodes a detection reply's payload; false when fewer than 24 bytes were received.
bool ParseDetectionData(const uint8_t* data, std::size_t size, DetectionData* out);

// The serial number up to its first NUL, at most 16 characters.
std::string SerialNumber(const DetectionData& data);

// The four address bytes as dotted decimal text.
std::string LidarIpText(const DetectionData& data);

}  // namespace lidar::sdk
