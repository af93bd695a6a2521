// The unit's attitude over time (a fixed tilt, an optional pitch oscillation on top of it and an
// optional constant turn about the vertical) and what its IMU reads from it.
#pragma once

#include <random>

#include "lidar_sim/scene.h"
#include "lidar_sim/stream_packet.h"

namespace lidar_sim {

struct Motion {
  double roll_deg = 0;
  double pitch_deg = 0;
  double yaw_rate_deg_s = 0;
  // pitch(t) = pitch_deg + pitch_wave_deg sin(2 pi pitch_wave_hz t)
  double pitch_wave_deg = 0;
  double pitch_wave_hz = 0;
  double imu_noise = 1.0;  // scale of the IMU noise; 0 for exact readings
};

// Rotation from the sensor frame to the room frame.
struct Rotation {
  double m[3][3];
  Vec3 apply(const Vec3& v) const;
  Vec3 apply_inverse(const Vec3& v) const;
};

Rotation attitude_at(const Motion& motion, double t_s);

class ImuModel {
 public:
  ImuModel(const Motion& motion, unsigned seed);
  // Reading at time t: gravity as specific force in g, body rates in rad/s, plus noise.
  ImuSample sample(double t_s);

 private:
  Motion motion_;
  std::mt19937 rng_;
  std::normal_distribution<double> unit_{0.0, 1.0};
};

}  // namespace lidar_sim
