#include "motion.h"

#include <cmath>

namespace lidar_sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kAccNoiseG = 0.004;
constexpr double kGyroNoiseRad = 0.0015;
double pitch_at(const Motion& motion, double t_s) {
  return (motion.pitch_deg +
          motion.pitch_wave_deg * std::sin(2 * kPi * motion.pitch_wave_hz * t_s)) *
         kDegToRad;
}

double pitch_rate_at(const Motion& motion, double t_s) {
  const double w = 2 * kPi * motion.pitch_wave_hz;
  return motion.pitch_wave_deg * kDegToRad * w * std::cos(w * t_s);
}

}  // namespace

Vec3 Rotation::apply(const Vec3& v) const {
  return Vec3{m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
              m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

Vec3 Rotation::apply_inverse(const Vec3& v) const {
  return Vec3{m[0][0] * v.x + m[1][0] * v.y + m[2][0] * v.z, m[0][1] * v.x + m[1][1] * v.y + m[2][1] * v.z,
              m[0][2] * v.x + m[1][2] * v.y + m[2][2] * v.z};
}

// Yaw about the room's vertical, then pitch, then roll: R = Rz(yaw) Ry(pitch) Rx(roll).
Rotation attitude_at(const Motion& motion, double t_s) {
  const double r = motion.roll_deg * kDegToRad;
  const double p = pitch_at(motion, t_s);
  const double y = motion.yaw_rate_deg_s * kDegToRad * t_s;
  const double cr = std::cos(r), sr = std::sin(r), cp = std::cos(p), sp = std::sin(p);
  const double cy = std::cos(y), sy = std::sin(y);
  Rotation rot{};
  rot.m[0][0] = cy * cp;
  rot.m[0][1] = cy * sp * sr - sy * cr;
  rot.m[0][2] = cy * sp * cr + sy * sr;
  rot.m[1][0] = sy * cp;
  rot.m[1][1] = sy * sp * sr + cy * cr;
  rot.m[1][2] = sy * sp * cr - cy * sr;
  rot.m[2][0] = -sp;
  rot.m[2][1] = cp * sr;
  rot.m[2][2] = cp * cr;
  return rot;
}

ImuModel::ImuModel(const Motion& motion, unsigned seed) : motion_(motion), rng_(seed) {}

ImuSample ImuModel::sample(double t_s) {
  const Rotation rot = attitude_at(motion_, t_s);
  // At rest the accelerometer reads the reaction to gravity: straight up in the room.
  const Vec3 acc = rot.apply_inverse(Vec3{0, 0, 1});
  // The turn about the room's vertical, plus the pitch rate about the axis the roll turns.
  const Vec3 turn = rot.apply_inverse(Vec3{0, 0, motion_.yaw_rate_deg_s * kDegToRad});
  const double roll = motion_.roll_deg * kDegToRad, pitch_rate = pitch_rate_at(motion_, t_s);
  const Vec3 rate{turn.x, turn.y + std::cos(roll) * pitch_rate,
                  turn.z - std::sin(roll) * pitch_rate};
  const double na = kAccNoiseG * motion_.imu_noise;
  const double ng = kGyroNoiseRad * motion_.imu_noise;
  ImuSample s;
  s.gx = static_cast<float>(rate.x + ng * unit_(rng_));
  s.gy = static_cast<float>(rate.y + ng * unit_(rng_));
  s.gz = static_cast<float>(rate.z + ng * unit_(rng_));
  s.ax = static_cast<float>(acc.x + na * unit_(rng_));
  s.ay = static_cast<float>(acc.y + na * unit_(rng_));
  s.az = static_cast<float>(acc.z + na * unit_(rng_));
  return s;
}

}  // namespace lidar_sim
