#include "forward_command_handler.h"

#include "command_handler/build_request.h"
#include "device_ports.h"

namespace lidar::sdk {

// Forward units push their state to the host's detection port.
ForwardCommandHandler::ForwardCommandHandler(FrameSender* sender)
    : DeviceCommandHandler(
          sender, {kDeviceTypeForward, kForwardCmdPort, kForwardLogPort, kDetectionPort}) {}

void ForwardCommandHandler::UpdateLidarCallback(CommandStatus status, uint32_t handle,
                                                LidarAsyncControlResponse* response,
                                                void* client_data) {
  CompleteLidarCfg(status, handle, response, client_data, kDeviceTypeForward);
}

bool ForwardCommandHandler::BuildLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer,
                                                 uint16_t& length) {
  return BuildUpdateLidarCfgRequest(cfg, buffer, length);
}

AsyncControlCallback ForwardCommandHandler::UpdateCallback() const {
  return &UpdateLidarCallback;
}

}  // namespace lidar::sdk
