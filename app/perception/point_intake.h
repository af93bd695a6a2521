// Point-cloud intake: the SDK's point callback and the processing worker that drains the
// frame mailbox.
#pragma once

#include <cstdint>

#include "core/shared_state.h"
#include "lidar_sdk.h"

namespace app {

// Registered with SetLidarPointCloudCallback; runs on the SDK's data IO thread.
void on_point_cloud(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet,
                    void* client_data);

// Tells the worker that live_window changed at steady time `now` (what each point datagram does).
void mark_frame_pending(uint64_t now);
// Body of the processing worker thread: runs while processing_active is set.
void processing_worker_loop();
// Clears processing_active and wakes the worker, which then returns at once.
void stop_processing_worker();

// What the worker does with each frame it takes: processes the window's content (timed, for the
// diagnostics) and hands its entry to the frame stream.
void process_and_hand_off(PointWindow& window, uint64_t t);

}  // namespace app
