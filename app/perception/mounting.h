// The LiDAR's mounting on the robot as a rotation: what turns a point (or a direction) from the
// LiDAR's axes into the robot's.
#pragma once

#include <cstddef>

#include "core/records.h"

namespace app {

struct Rotation3 {
  float m[3][3] = {{1.f, 0.f, 0.f}, {0.f, 1.f, 0.f}, {0.f, 0.f, 1.f}};
};

// Rz(yaw) Ry(pitch) Rx(roll) of the pose's angles (computed in double, stored as f32).
Rotation3 mounting_rotation(const MountingPose& pose);

// The LiDAR's attitude as the IMU gives it (yaw left out): Ry(pitch) Rx(roll), from its axes to
// level ones.
Rotation3 tilt_rotation(const Tilt& tilt);

Rotation3 operator*(const Rotation3& a, const Rotation3& b);
Rotation3 transposed(const Rotation3& r);

// v turned by r, in place.
void rotate(const Rotation3& r, float& x, float& y, float& z);
void rotate_points(const Rotation3& r, CloudPoint* points, std::size_t count);

// The rotation the point callback applies to every point from now on; a pose not given turns
// it off (nothing is touched). Set before the LiDAR layer starts delivering points.
void set_intake_mounting(const MountingPose& pose);

}  // namespace app
