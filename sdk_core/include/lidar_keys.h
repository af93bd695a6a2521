// Keys of the LiDAR's key/value parameter lists (written with parameter writes, read with the
// internal-information query, pushed in state messages), and the layout of the values that more
// than one reader takes apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lidar {

constexpr uint16_t kKeyPclDataType = 0x0000;
constexpr uint16_t kKeyPatternMode = 0x0001;
constexpr uint16_t kKeyDualEmitEn = 0x0002;
constexpr uint16_t kKeyPointSendEn = 0x0003;
constexpr uint16_t kKeyLidarIpCfg = 0x0004;
constexpr uint16_t kKeyStateInfoHostIpCfg = 0x0005;
constexpr uint16_t kKeyPointCloudHostIpCfg = 0x0006;
constexpr uint16_t kKeyImuHostIpCfg = 0x0007;
constexpr uint16_t kKeyCtlHostIpCfg = 0x0008;
constexpr uint16_t kKeyLogHostIpCfg = 0x0009;
constexpr uint16_t kKeyVehicleSpeed = 0x0010;
constexpr uint16_t kKeyEnvironmentTemp = 0x0011;
constexpr uint16_t kKeyInstallAttitude = 0x0012;
constexpr uint16_t kKeyBlindSpotSet = 0x0013;
constexpr uint16_t kKeyFrameRate = 0x0014;
constexpr uint16_t kKeyFovCfg0 = 0x0015;
constexpr uint16_t kKeyFovCfg1 = 0x0016;
constexpr uint16_t kKeyFovCfgEn = 0x0017;
constexpr uint16_t kKeyDetectMode = 0x0018;
constexpr uint16_t kKeyFuncIoCfg = 0x0019;
constexpr uint16_t kKeyWorkTgtMode = 0x001A;
constexpr uint16_t kKeyGlassHeat = 0x001B;
constexpr uint16_t kKeyImuDataEn = 0x001C;
constexpr uint16_t kKeyFusaEn = 0x001D;
constexpr uint16_t kKeySn = 0x8000;
constexpr uint16_t kKeyProductInfo = 0x8001;
constexpr uint16_t kKeyVersionApp = 0x8002;
constexpr uint16_t kKeyVersionLoader = 0x8003;
constexpr uint16_t kKeyVersionHardware = 0x8004;
constexpr uint16_t kKeyMac = 0x8005;
constexpr uint16_t kKeyCurWorkState = 0x8006;
constexpr uint16_t kKeyCoreTemp = 0x8007;       // i32, hundredths of a degree Celsius
constexpr uint16_t kKeyPowerUpCnt = 0x8008;     // u32
constexpr uint16_t kKeyLocalTimeNow = 0x8009;
constexpr uint16_t kKeyLastSyncTime = 0x800A;
constexpr uint16_t kKeyTimeOffset = 0x800B;
constexpr uint16_t kKeyTimeSyncType = 0x800C;
constexpr uint16_t kKeyStatusCode = 0x800D;
constexpr uint16_t kKeyLidarDiagStatus = 0x800E;
constexpr uint16_t kKeyLidarFlashStatus = 0x800F;
constexpr uint16_t kKeyFwType = 0x8010;         // u8
constexpr uint16_t kKeyHmsCode = 0x8011;
constexpr uint16_t kKeyRoiMode = 0xFFFE;

// Value of kKeyLidarIpCfg: the LiDAR's address, subnet mask and gateway, 4 bytes each, first
// octet first.
constexpr std::size_t kLidarIpCfgValueLength = 12;
constexpr std::size_t kLidarIpCfgGatewayOffset = 8;

// Value of the host address keys (kKeyStateInfoHostIpCfg to kKeyLogHostIpCfg): the address the
// LiDAR sends to (4 bytes, first octet first), the host's port u16, the LiDAR's port u16.
constexpr std::size_t kHostIpCfgValueLength = 8;
constexpr std::size_t kHostIpCfgDstPortOffset = 4;
constexpr std::size_t kHostIpCfgSrcPortOffset = 6;

}  // namespace lidar
