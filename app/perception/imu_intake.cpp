#include "imu_intake.h"

#include <algorithm>
#include <cmath>

#include "core/shared_state.h"
#include "core/clocks.h"
#include "perception/datagram_clock.h"
#include "perception/datagram_records.h"
#include "perception/packet_rate.h"
#include "perception/unit_selection.h"

namespace app {
namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 2.0f * kPi;

PacketRateCounter imu_rate;

// Wraps into [-pi, pi]. Angles many turns out (a wild rate over a long gap) are first reduced
// with fmod, since stepping by 2 pi cannot move a float that large.
float wrap_angle(float angle) {
  if (std::fabs(angle) > 64.0f * kPi) angle = std::fmod(angle, kTwoPi);
  while (angle > kPi) angle -= kTwoPi;
  while (angle < -kPi) angle += kTwoPi;
  return angle;
}

// The gravity angle on the gyro prediction's side of the +-pi seam: an upside-down unit's roll
// reads just below pi one sample and just above -pi the next, and blending those two as numbers
// would throw the estimate some degrees off towards 0. Elsewhere it is the angle itself.
float beside(float measured, float predicted) {
  if (measured - predicted > kPi) return measured - kTwoPi;
  if (predicted - measured > kPi) return measured + kTwoPi;
  return measured;
}

}  // namespace

void on_imu_data(uint32_t handle, uint8_t, LidarEthernetPacket* packet, void*) {
  if (!take_unit(handle, false)) return;
  lidar_handle.store(handle);
  // The sample's arrival, finer than the millisecond: at 200 Hz a millisecond is a fifth of
  // the interval, and the filter's dt and the published frequency are taken from it.
  const uint64_t now_us = datagram_arrival_us();
  if (packet == nullptr || packet_data_type(*packet) != kDataTypeImu) return;
  const uint16_t count = packet_dot_count(*packet);
  if (count == 0) return;

  note_packet_arrival(last_imu_ms, freq_imu, imu_rate, now_us / 1000u);

  const ImuSample s = decode_imu_sample(*packet, static_cast<uint16_t>(count - 1));
  attitude_update_us(s.ax, s.ay, s.az, s.gx, s.gy, s.gz, now_us);
}

void attitude_update(float ax, float ay, float az, float gx, float gy, float gz, uint64_t t) {
  attitude_update_us(ax, ay, az, gx, gy, gz, t * 1000u);
}

void attitude_update_us(float ax, float ay, float az, float gx, float gy, float gz, uint64_t t_us) {
  const uint64_t t0 = wall_ms();
  const AttitudeState previous = copy_attitude();

  const uint64_t last = last_attitude_us.load();
  if (last == 0) {
    last_attitude_us.store(t_us);
    return;
  }
  // A sample stamped before the previous one (the two callers race on an OFF transition)
  // adds no elapsed time and does not move the clock back.
  float dt = 0.f;
  if (t_us > last) {
    dt = static_cast<float>(t_us - last) / 1000000.0f;
    last_attitude_us.store(t_us);
  }

  const float roll_g = previous.roll + gx * dt;
  const float pitch_g = previous.pitch + gy * dt;
  const float yaw = previous.yaw + gz * dt;

  const float roll_a = beside(std::atan2(ay, az), roll_g);
  const float pitch_a =
      beside(std::atan2(-ax, std::max(std::sqrt(ay * ay + az * az), 0.000001f)), pitch_g);

  const float k = copy_processing_params().imu_alpha;
  AttitudeState next;
  next.roll = wrap_angle((1.0f - k) * roll_a + k * roll_g);
  next.pitch = wrap_angle((1.0f - k) * pitch_a + k * pitch_g);
  next.yaw = wrap_angle(yaw);
  // A non-finite sample would stick in the filter for good; it is discarded instead.
  if (!std::isfinite(next.roll) || !std::isfinite(next.pitch) || !std::isfinite(next.yaw)) return;

  next.frequencia_hz = dt > 0.f ? 1.0f / dt : previous.frequencia_hz;
  next.t_ms = t0;
  next.latencia_ms = static_cast<float>(wall_ms() - t0);

  {
    std::lock_guard<std::mutex> hold(state_mutex);
    attitude = next;
  }
  // The gyro alone, for the turn between two packets: the accelerometer's pull on the filter
  // (while it settles, or at the seam) is no motion of the unit.
  const Tilt turned = load_imu_tilt();
  store_imu_tilt(Tilt{wrap_angle(turned.roll + gx * dt), wrap_angle(turned.pitch + gy * dt)});
}

}  // namespace app
