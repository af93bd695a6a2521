#include "fake_sdk.h"

#include <mutex>

namespace fake_sdk {

std::vector<std::string> calls;
bool init_result = true;
bool start_result = true;
std::string init_path;
LidarPointCloudCallback point_callback = nullptr;
LidarImuDataCallback imu_callback = nullptr;
LidarInfoChangeCallback info_callback = nullptr;
void (*uninit_hook)() = nullptr;

namespace {
std::mutex calls_mutex;
void record(std::string call) {
  std::lock_guard<std::mutex> hold(calls_mutex);
  calls.push_back(std::move(call));
}
}  // namespace

void reset() {
  std::lock_guard<std::mutex> hold(calls_mutex);
  calls.clear();
  init_result = true;
  start_result = true;
  init_path.clear();
  point_callback = nullptr;
  imu_callback = nullptr;
  info_callback = nullptr;
  uninit_hook = nullptr;
}

}  // namespace fake_sdk

using namespace fake_sdk;

bool LidarSdkInit(const char* path, const char* host_ip, const LidarLoggerCfgInfo* log_cfg) {
  init_path = path ? path : "<null>";
  record(std::string("Init host='") + (host_ip ? host_ip : "<null>") + "' log=" +
         (log_cfg ? "set" : "null"));
  return init_result;
}
bool LidarSdkStart() {
  record("Start");
  return start_result;
}
void LidarSdkUninit() {
  record("Uninit");
  if (uninit_hook != nullptr) uninit_hook();
}
void SetLidarPointCloudCallback(LidarPointCloudCallback cb, void* client) {
  point_callback = cb;
  record(client ? "SetPoint client" : "SetPoint");
}
void SetLidarImuDataCallback(LidarImuDataCallback cb, void* client) {
  imu_callback = cb;
  record(client ? "SetImu client" : "SetImu");
}
void SetLidarInfoChangeCallback(LidarInfoChangeCallback cb, void* client) {
  info_callback = cb;
  record(client ? "SetInfo client" : "SetInfo");
}
CommandStatus LidarSetWorkMode(uint32_t, uint8_t, AsyncControlCallback, void*) {
  record("SetWorkMode");
  return kStatusSuccess;
}
CommandStatus LidarSetPclDataType(uint32_t, uint8_t, AsyncControlCallback, void*) {
  record("SetPclDataType");
  return kStatusSuccess;
}
CommandStatus LidarEnablePointSend(uint32_t, AsyncControlCallback, void*) {
  record("EnablePointSend");
  return kStatusSuccess;
}
CommandStatus LidarEnableImuData(uint32_t, AsyncControlCallback, void*) {
  record("EnableImuData");
  return kStatusSuccess;
}
CommandStatus QueryLidarInternalInfo(uint32_t, QueryLidarInternalInfoCallback, void*) {
  record("QueryInternalInfo");
  return kStatusSuccess;
}

void LidarGetHealthCounters(LidarHealthCounters* out) {
  if (out != nullptr) *out = LidarHealthCounters{};
}
