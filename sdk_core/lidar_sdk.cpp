// Stand-in for the SDK's public functions until the device manager lands: initialisation
// reports failure, so the application says so honestly.
#include "lidar_sdk.h"

bool LidarSdkInit(const char*, const char*, const LidarLoggerCfgInfo*) { return false; }
bool LidarSdkStart() { return true; }
void LidarSdkUninit() {}
void SetLidarPointCloudCallback(LidarPointCloudCallback, void*) {}
void SetLidarImuDataCallback(LidarImuDataCallback, void*) {}
void SetLidarInfoChangeCallback(LidarInfoChangeCallback, void*) {}
CommandStatus LidarSetWorkMode(uint32_t, uint8_t, AsyncControlCallback, void*) {
  return kStatusSendFailed;
}
CommandStatus LidarSetPclDataType(uint32_t, uint8_t, AsyncControlCallback, void*) {
  return kStatusSendFailed;
}
CommandStatus LidarEnablePointSend(uint32_t, AsyncControlCallback, void*) {
  return kStatusSendFailed;
}
CommandStatus LidarEnableImuData(uint32_t, AsyncControlCallback, void*) {
  return kStatusSendFailed;
}
CommandStatus QueryLidarInternalInfo(uint32_t, QueryLidarInternalInfoCallback, void*) {
  return kStatusNotRegistered;
}
