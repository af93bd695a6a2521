// Decoding of the records that follow a point or IMU datagram's header. The data handler only
// delivers datagrams whose received bytes hold every record their dot count announces.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"
#include "lidar_sdk.h"

namespace app {

uint16_t packet_dot_count(const LidarEthernetPacket& packet);
uint8_t packet_data_type(const LidarEthernetPacket& packet);
// True when the datagram carries at least one record of a point form decoded here.
bool packet_yields_points(const LidarEthernetPacket& packet);

// The datagram's points in delivery order, in metres, white, written over `out` (whose buffer
// is reused). Data types other than the two Cartesian forms yield no points.
void decode_points_into(const LidarEthernetPacket& packet, std::vector<CloudPoint>& out);

struct ImuSample {
  float gx = 0.f, gy = 0.f, gz = 0.f;  // angular rate, rad/s
  float ax = 0.f, ay = 0.f, az = 0.f;  // acceleration, any unit
};

// Record `index` (below the dot count) of an IMU datagram.
ImuSample decode_imu_sample(const LidarEthernetPacket& packet, uint16_t index);

}  // namespace app
