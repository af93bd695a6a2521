// Checks over the parsed configuration records before the device manager starts: LiDAR address
// conflicts, the fixed LiDAR ports of Omni units (corrected in place) and multicast groups.
#pragma once

#include <memory>

#include "config_types.h"

namespace lidar::sdk {

class ParamsCheck {
 public:
  ParamsCheck(std::shared_ptr<LidarCfgList> type_cfgs, std::shared_ptr<LidarCfgList> custom_cfgs);

  // False (with one logged reason) when the records cannot be used. Wrong Omni LiDAR ports are
  // not a failure: the records are corrected and each correction is logged.
  bool Check();

 private:
  bool CheckLidarIp();
  void CheckPort(LidarCfg& cfg);
  bool CheckLidarMulticastIp();

  std::shared_ptr<LidarCfgList> type_cfgs_;
  std::shared_ptr<LidarCfgList> custom_cfgs_;
};

}  // namespace lidar::sdk
