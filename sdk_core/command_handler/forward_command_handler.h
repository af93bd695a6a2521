// Command handler of the Forward device type (10): point cloud and IMU are configured.
#pragma once

#include "command_handler/device_command_handler.h"

namespace lidar::sdk {

class ForwardCommandHandler : public DeviceCommandHandler {
 public:
  explicit ForwardCommandHandler(FrameSender* sender);

  static void UpdateLidarCallback(CommandStatus status, uint32_t handle,
                                  LidarAsyncControlResponse* response, void* client_data);

 protected:
  bool BuildLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer, uint16_t& length) override;
  AsyncControlCallback UpdateCallback() const override;
};

}  // namespace lidar::sdk
