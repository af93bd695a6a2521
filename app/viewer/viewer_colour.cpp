#include <algorithm>
#include <cmath>
#include <cstdint>

#include <pcl/point_types.h>

#include "viewer_internal.h"

namespace app {
namespace {

constexpr float kDistanceSpanM = 5.0f;
constexpr float kHeightFloorM = -0.2f;
constexpr float kHeightSpanM = 1.7f;

// Written so that NaN lands on 0: a point with a NaN coordinate gets the ramp's first colour
// instead of an undefined byte.
float clamp_unit(float value) { return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f; }

std::uint8_t channel(float value) { return static_cast<std::uint8_t>(clamp_unit(value) * 255.0f); }

}  // namespace

void colorize_point(pcl::PointXYZRGB& point, bool by_distance) {
  const float t =
      by_distance
          ? std::sqrt(point.x * point.x + point.y * point.y + point.z * point.z) / kDistanceSpanM
          : (point.z - kHeightFloorM) / kHeightSpanM;
  const float v = 4.0f * clamp_unit(t);
  point.r = channel(std::min(v - 1.5f, 4.5f - v));
  point.g = channel(std::min(v - 0.5f, 3.5f - v));
  point.b = channel(std::min(v + 0.5f, 2.5f - v));
}

}  // namespace app
