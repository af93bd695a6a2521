// Command handler of the Omni device type (9): state information, point cloud and IMU are all
// configured.
#pragma once

#include "command_handler/device_command_handler.h"

namespace lidar::sdk {

class OmniCommandHandler : public DeviceCommandHandler {
 public:
  explicit OmniCommandHandler(FrameSender* sender);

  static void UpdateLidarCallback(CommandStatus status, uint32_t handle,
                                  LidarAsyncControlResponse* response, void* client_data);

 protected:
  bool BuildLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length) override;
  AsyncControlCallback UpdateCallback() const override;
};

}  // namespace lidar::sdk
