// The perception pipeline's working cloud: the finite points of a frame, thinned, as x, y, z
// plus a fourth word (1.0), sixteen bytes aligned, so a point loads as one four-lane vector.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace app {

struct alignas(16) XyzPoint {
  float x = 0.f, y = 0.f, z = 0.f;
  float w = 1.f;

  XyzPoint() = default;
  XyzPoint(float px, float py, float pz) : x(px), y(py), z(pz) {}
};

static_assert(sizeof(XyzPoint) == 16, "a point spans four words");

// Unorganised: width is the number of points, height 1, and the cloud is not marked dense.
struct Cloud {
  std::vector<XyzPoint> points;
  uint32_t width = 0;
  uint32_t height = 1;
  bool is_dense = false;
};

using CloudPtr = std::shared_ptr<Cloud>;
using CloudConstPtr = std::shared_ptr<const Cloud>;

}  // namespace app
