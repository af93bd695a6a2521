#include "omni_command_handler.h"

#include "command_handler/build_request.h"
#include "device_ports.h"

namespace lidar::sdk {

OmniCommandHandler::OmniCommandHandler(FrameSender* sender)
    : DeviceCommandHandler(sender,
                           {kDeviceTypeOmni, kOmniCmdPort, kOmniLogPort, kOmniPushMsgPort}) {}

void OmniCommandHandler::UpdateLidarCallback(CommandStatus status, uint32_t handle,
                                             LidarAsyncControlResponse* response,
                                             void* client_data) {
  CompleteLidarCfg(status, handle, response, client_data, kDeviceTypeOmni);
}

bool OmniCommandHandler::BuildLidarCfgRequest(const LidarCfg& cfg, uint8_t* buffer,
                                              uint16_t& length) {
  return BuildUpdateOmniLidarCfgRequest(cfg, buffer, length);
}

AsyncControlCallback OmniCommandHandler::UpdateCallback() const { return &UpdateLidarCallback; }

}  // namespace lidar::sdk
