#include "imu_intake.h"

#include "app/core/shared_state.h"

namespace app {

void on_imu_data(uint32_t handle, uint8_t, LidarEthernetPacket*, void*) {
  lidar_handle.store(handle);
}

void attitude_update(float, float, float, float, float, float, uint64_t) {}

}  // namespace app
