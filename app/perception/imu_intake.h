// IMU intake and the complementary attitude filter.
#pragma once

#include <cstdint>

#include "lidar_sdk.h"

namespace app {

// Registered with SetLidarImuDataCallback; runs on the SDK's data IO thread.
void on_imu_data(uint32_t handle, uint8_t dev_type, LidarEthernetPacket* packet,
                 void* client_data);

// One filter step with an IMU sample taken at steady time t (ms).
void attitude_update(float ax, float ay, float az, float gx, float gy, float gz, uint64_t t);
// The same with the time in microseconds, as the IMU intake stamps its samples.
void attitude_update_us(float ax, float ay, float az, float gx, float gy, float gz, uint64_t t_us);

}  // namespace app
