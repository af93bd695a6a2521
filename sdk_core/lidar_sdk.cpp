// The SDK's lifecycle and callback registration. The key/value operations live with the command
// layer (command_handler/command_impl).
#include "lidar_sdk.h"

#include <memory>
#include <string>
#include <utility>

#include "base/sdk_log.h"
#include "base/socket_platform.h"
#include "command_handler/general_command_handler.h"
#include "config_types.h"
#include "data_handler/data_handler.h"
#include "device_manager.h"
#include "logger_handler/logger_manager.h"
#include "params_check.h"
#include "parse_cfg_file.h"

namespace {

// The lifecycle functions are called from one application thread.
bool sdk_initialised = false;

lidar::sdk::DataHandler::DataCallback Wrap(LidarPointCloudCallback cb) {
  if (cb == nullptr) return {};
  return lidar::sdk::DataHandler::DataCallback(cb);
}

bool InitFromFile(const char* path) {
  using namespace lidar::sdk;
  std::shared_ptr<LidarCfgList> type_cfgs;
  std::shared_ptr<LidarCfgList> custom_cfgs;
  std::shared_ptr<LidarLoggerCfg> logger_cfg;
  std::shared_ptr<LidarSdkFrameworkCfg> framework_cfg;
  if (!ParseCfgFile(path).Parse(type_cfgs, custom_cfgs, logger_cfg, framework_cfg)) return false;
  if (!ParamsCheck(type_cfgs, custom_cfgs).Check()) return false;
  return DeviceManager::GetInstance().Init(type_cfgs, custom_cfgs, logger_cfg, framework_cfg);
}

}  // namespace

bool LidarSdkInit(const char* path, const char* host_ip, const LidarLoggerCfgInfo* log_cfg_info) {
  using namespace lidar::sdk;
  if (sdk_initialised) return false;
  if (!SocketLibraryStartup()) return false;
  CreateSdkLogger();

  bool started = false;
  if (path != nullptr) {
    started = InitFromFile(path);
  } else if (host_ip != nullptr) {
    started = DeviceManager::GetInstance().Init(std::string(host_ip), log_cfg_info);
  }
  sdk_initialised = started;
  return started;
}

bool LidarSdkStart() { return true; }

void LidarSdkUninit() {
  using namespace lidar::sdk;
  if (!sdk_initialised) return;
  LoggerManager::GetInstance().Uninit();
  // Every socket is closed before the socket library goes.
  DeviceManager::GetInstance().Uninit();
  SocketLibraryCleanup();
  DataHandler::Instance().ClearCallbacks();
  GeneralCommandHandler::GetInstance().Uninit();
  DropSdkLoggers();
  sdk_initialised = false;
}

CommandStatus LidarReconfigure(uint32_t handle) {
  return lidar::sdk::GeneralCommandHandler::GetInstance().Reconfigure(handle);
}

void SetLidarPointCloudCallback(LidarPointCloudCallback cb, void* client_data) {
  lidar::sdk::DataHandler::Instance().SetPointDataCallback(Wrap(cb), client_data);
}

void SetLidarImuDataCallback(LidarImuDataCallback cb, void* client_data) {
  lidar::sdk::DataHandler::Instance().SetImuDataCallback(Wrap(cb), client_data);
}

void LidarSetDataGatherInterval(uint32_t microseconds) {
  lidar::sdk::DeviceManager::GetInstance().SetGatherInterval(
      std::chrono::microseconds(microseconds));
}

int64_t LidarDatagramArrivalNs() { return lidar::sdk::DataHandler::DeliveredArrivalNs(); }

void SetLidarInfoChangeCallback(LidarInfoChangeCallback cb, void* client_data) {
  lidar::sdk::GeneralCommandHandler::GetInstance().SetLidarInfoChangeCallback(cb, client_data);
}

void SetLidarPushInfoCallback(LidarPushInfoCallback cb, void* client_data) {
  lidar::sdk::GeneralCommandHandler::GetInstance().SetLidarPushInfoCallback(cb, client_data);
}
