#include "mounting.h"

#include <cmath>

namespace app {

Rotation3 mounting_rotation(const MountingPose& pose) {
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double r = pose.rpy_deg[0] * kRad, p = pose.rpy_deg[1] * kRad, y = pose.rpy_deg[2] * kRad;
  const double cr = std::cos(r), sr = std::sin(r), cp = std::cos(p), sp = std::sin(p);
  const double cy = std::cos(y), sy = std::sin(y);
  const double m[3][3] = {{cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr},
                          {sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr},
                          {-sp, cp * sr, cp * cr}};
  Rotation3 out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] = static_cast<float>(m[i][j]);
  }
  return out;
}

Rotation3 tilt_rotation(const Tilt& tilt) {
  const float cr = std::cos(tilt.roll), sr = std::sin(tilt.roll);
  const float cp = std::cos(tilt.pitch), sp = std::sin(tilt.pitch);
  Rotation3 out;
  const float m[3][3] = {{cp, sp * sr, sp * cr}, {0.f, cr, -sr}, {-sp, cp * sr, cp * cr}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] = m[i][j];
  }
  return out;
}

Rotation3 operator*(const Rotation3& a, const Rotation3& b) {
  Rotation3 out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    }
  }
  return out;
}

Rotation3 transposed(const Rotation3& r) {
  Rotation3 out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] = r.m[j][i];
  }
  return out;
}

void rotate(const Rotation3& r, float& x, float& y, float& z) {
  const float px = x, py = y, pz = z;
  x = r.m[0][0] * px + r.m[0][1] * py + r.m[0][2] * pz;
  y = r.m[1][0] * px + r.m[1][1] * py + r.m[1][2] * pz;
  z = r.m[2][0] * px + r.m[2][1] * py + r.m[2][2] * pz;
}

void rotate_points(const Rotation3& r, CloudPoint* points, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) rotate(r, points[i].x, points[i].y, points[i].z);
}

}  // namespace app
