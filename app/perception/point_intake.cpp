#include "point_intake.h"

#include <chrono>
#include <thread>

#include "app/core/shared_state.h"

namespace app {

void on_point_cloud(uint32_t handle, uint8_t, LidarEthernetPacket*, void*) {
  lidar_handle.store(handle);
}

void processing_worker_loop() {
  while (processing_active.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

}  // namespace app
