// Configuration files written by users: the parser and the checks over its records, on a
// temporary file holding the input.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "device_ports.h"
#include "params_check.h"
#include "parse_cfg_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string& TempPath() {
  static std::string path;
  return path;
}

constexpr uint8_t kOmni = 9;

void CheckOmniPorts(const lidar::sdk::LidarCfgList& list) {
  using namespace lidar::sdk;
  for (const LidarCfg& cfg : list) {
    if (cfg.device_type != kOmni) continue;
    const LidarNetInfo& net = cfg.lidar_net_info;
    FUZZ_CHECK(net.cmd_data_port == kOmniCmdPort && net.push_msg_port == kOmniPushMsgPort &&
               net.point_data_port == kOmniPointDataPort && net.imu_data_port == kOmniImuDataPort &&
               net.log_data_port == kOmniLogPort);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietSdkLogger();
  // A name of this run's own, so parallel fuzzing jobs never share the file.
  std::random_device random;
  TempPath() = (std::filesystem::temp_directory_path() /
                ("lidar_cfg_fuzz_" + std::to_string(random()) + std::to_string(random())))
                   .string();
  std::atexit([] { std::remove(TempPath().c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(TempPath().c_str(), "wb");
  if (!file) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  std::shared_ptr<lidar::sdk::LidarCfgList> type_cfgs;
  std::shared_ptr<lidar::sdk::LidarCfgList> custom_cfgs;
  std::shared_ptr<lidar::sdk::LidarLoggerCfg> logger_cfg;
  std::shared_ptr<lidar::sdk::LidarSdkFrameworkCfg> framework_cfg;
  const bool parsed =
      lidar::sdk::ParseCfgFile(TempPath()).Parse(type_cfgs, custom_cfgs, logger_cfg, framework_cfg);
  if (!parsed) return 0;
  FUZZ_CHECK(type_cfgs && custom_cfgs && logger_cfg && framework_cfg);

  lidar::sdk::ParamsCheck check(type_cfgs, custom_cfgs);
  if (!check.Check()) return 0;
  // Whatever the file said, the records handed on carry the Omni LiDAR's fixed ports.
  CheckOmniPorts(*type_cfgs);
  CheckOmniPorts(*custom_cfgs);
  return 0;
}
