// Point-cloud intake: the SDK's point callback and the processing worker that drains the
// frame mailbox.
#pragma once

#include <cstdint>

#include "lidar_sdk.h"

namespace app {

// Registered with SetLidarPointCloudCallback; runs on the SDK's data IO thread.
void on_point_cloud(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet,
                    void* client_data);

// Body of the processing worker thread: runs while processing_active is set.
void processing_worker_loop();

}  // namespace app
