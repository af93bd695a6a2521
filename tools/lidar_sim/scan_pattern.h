// The unit's scan pattern: a low-discrepancy sequence over its field of view that never repeats,
// so the scene fills in evenly over time and any short window covers the whole field of view.
#pragma once

#include <cstdint>

#include "lidar_sim/scene.h"

namespace lidar_sim {

struct FieldOfView {
  double azimuth_min_deg;
  double azimuth_max_deg;
  double elevation_min_deg;
  double elevation_max_deg;
};

// Omni: all around, 60 degrees above and below the horizon; Forward: 120 x 50 degrees ahead.
FieldOfView field_of_view(uint8_t dev_type);

class ScanPattern {
 public:
  explicit ScanPattern(const FieldOfView& fov);
  // Next shot direction in the sensor frame (unit vector).
  Vec3 next();

 private:
  double az_min_, az_span_, sin_el_min_, sin_el_span_;
  double u_ = 0.5, v_ = 0.5;
};

}  // namespace lidar_sim
