#include "scan_pattern.h"

#include <algorithm>
#include <cmath>

#include "lidar_sim/device.h"

namespace lidar_sim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
// Steps of the two-dimensional additive recurrence built on the plastic number; consecutive shots
// of any length spread evenly over the unit square and the sequence has no period.
constexpr double kPlastic = 1.32471795724474602596;
constexpr double kStepU = 1.0 / kPlastic;
constexpr double kStepV = 1.0 / (kPlastic * kPlastic);

}  // namespace

FieldOfView field_of_view(uint8_t dev_type) {
  if (dev_type == kDeviceTypeForward) return FieldOfView{-60.0, 60.0, -25.0, 25.0};
  return FieldOfView{0.0, 360.0, -60.0, 60.0};
}

ScanPattern::ScanPattern(const FieldOfView& fov)
    : az_min_(fov.azimuth_min_deg * kDegToRad),
      az_span_((fov.azimuth_max_deg - fov.azimuth_min_deg) * kDegToRad),
      sin_el_min_(std::sin(fov.elevation_min_deg * kDegToRad)),
      sin_el_span_(std::sin(fov.elevation_max_deg * kDegToRad) - std::sin(fov.elevation_min_deg * kDegToRad)) {}

Vec3 ScanPattern::next() {
  u_ += kStepU;
  if (u_ >= 1.0) u_ -= 1.0;
  v_ += kStepV;
  if (v_ >= 1.0) v_ -= 1.0;
  // Uniform in sin(elevation) gives equal shots per solid angle.
  const double az = az_min_ + u_ * az_span_;
  const double sin_el = sin_el_min_ + v_ * sin_el_span_;
  const double cos_el = std::sqrt(std::max(0.0, 1.0 - sin_el * sin_el));
  return Vec3{cos_el * std::cos(az), cos_el * std::sin(az), sin_el};
}

}  // namespace lidar_sim
