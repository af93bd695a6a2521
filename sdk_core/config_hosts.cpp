// The public reader of a configuration file's host addresses and ports: the configuration
// parser of LidarSdkInit, without the rest of the start.
#include <memory>

#include "config_types.h"
#include "lidar_sdk.h"
#include "parse_cfg_file.h"

bool LidarReadConfigHosts(const char* path, LidarConfigHostCallback cb, void* client_data) {
  using namespace lidar::sdk;
  if (path == nullptr) return false;
  auto type_cfgs = std::make_shared<LidarCfgList>();
  auto custom_cfgs = std::make_shared<LidarCfgList>();
  auto logger_cfg = std::make_shared<LidarLoggerCfg>();
  auto framework_cfg = std::make_shared<LidarSdkFrameworkCfg>();
  if (!ParseCfgFile(path).Parse(type_cfgs, custom_cfgs, logger_cfg, framework_cfg)) return false;
  if (cb == nullptr) return true;
  for (const LidarCfgList* list : {type_cfgs.get(), custom_cfgs.get()}) {
    for (const LidarCfg& cfg : *list) {
      const HostNetInfo& host = cfg.host_net_info;
      if (host.host_ip.empty()) continue;
      const LidarConfigHost out{host.host_ip.c_str(), host.cmd_data_port, host.push_msg_port,
                                host.point_data_port, host.imu_data_port, host.log_data_port};
      cb(&out, client_data);
    }
  }
  return true;
}
