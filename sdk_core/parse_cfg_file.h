// Reader of the SDK configuration file: per-device-type and per-LiDAR network records, the
// LiDAR log capture settings and the master/slave switch.
#pragma once

#include <memory>
#include <string>

#include "config_types.h"

namespace lidar::sdk {

class ParseCfgFile {
 public:
  explicit ParseCfgFile(std::string path);

  // Parses the file. Once the document has been read, the four outputs are replaced by fresh
  // records and stay valid even when a later step fails. Every failure logs its reason.
  bool Parse(std::shared_ptr<LidarCfgList>& type_cfgs, std::shared_ptr<LidarCfgList>& custom_cfgs,
             std::shared_ptr<LidarLoggerCfg>& logger_cfg,
             std::shared_ptr<LidarSdkFrameworkCfg>& framework_cfg);

 private:
  std::string path_;
};

}  // namespace lidar::sdk
