// The device's parameter keys: which ones it knows, the size of each value and which ones a host
// may write.
#pragma once

#include <cstdint>

namespace lidar_sim {

namespace key {
constexpr uint16_t kPclDataType = 0x0000;
constexpr uint16_t kPatternMode = 0x0001;
constexpr uint16_t kDualEmit = 0x0002;
constexpr uint16_t kPointSend = 0x0003;
constexpr uint16_t kLidarIpCfg = 0x0004;
constexpr uint16_t kStateInfoHost = 0x0005;
constexpr uint16_t kPointHost = 0x0006;
constexpr uint16_t kImuHost = 0x0007;
constexpr uint16_t kCtlHost = 0x0008;
constexpr uint16_t kLogHost = 0x0009;
constexpr uint16_t kWorkMode = 0x001A;
constexpr uint16_t kImuEnable = 0x001C;
constexpr uint16_t kSn = 0x8000;
constexpr uint16_t kProductInfo = 0x8001;
constexpr uint16_t kVersionApp = 0x8002;
constexpr uint16_t kVersionLoader = 0x8003;
constexpr uint16_t kVersionHardware = 0x8004;
constexpr uint16_t kMac = 0x8005;
constexpr uint16_t kCurWorkState = 0x8006;
constexpr uint16_t kCoreTemp = 0x8007;
constexpr uint16_t kPowerUpCount = 0x8008;
constexpr uint16_t kLocalTimeNow = 0x8009;
constexpr uint16_t kFwType = 0x8010;
}  // namespace key

struct KeySpec {
  uint16_t key;
  uint8_t size;    // value bytes on the wire
  bool writable;   // hosts may write it with a parameter write
};

// Null when the device does not know the key.
const KeySpec* find_key(uint16_t key);

// Every known key in ascending order (for the push message and tests).
const KeySpec* all_keys(std::size_t& count);

bool is_host_target_key(uint16_t key);

}  // namespace lidar_sim
