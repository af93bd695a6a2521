// Device information callbacks: configure the LiDAR on an information change and fill the
// device fields from the internal-information answer.
#pragma once

#include <cstdint>

#include "lidar_sdk.h"

namespace app {

void on_info_change(uint32_t handle, const LidarInfo* info, void* client_data);
void on_internal_info(CommandStatus status, uint32_t handle,
                      LidarDiagInternalInfoResponse* response, void* client_data);

}  // namespace app
