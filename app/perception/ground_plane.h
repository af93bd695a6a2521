// The ground the robot stands on, estimated every frame as one plane from the thinned points near
// where the robot's box says the floor is, with the IMU's sense of "up" as one of the guesses.
// Points within a margin above the plane (or anywhere below it) are ground: the robot drives on
// them, so they are no obstacle for the corridors or the frame stream's boxes.
#pragma once

#include <optional>

#include "core/records.h"
#include "perception/cloud_types.h"

namespace app {

struct UpVector {
  float x = 0.f, y = 0.f, z = 1.f;
};

// The IMU's "up" in the robot's axes (the attitude is the LiDAR's; the mounting turns it).
UpVector imu_up(const AttitudeState& lidar_attitude, const MountingPose& mounting);

// The plane fitted to the cloud, seeded with the robot's own vertical and, when given, the IMU's;
// "not seen" when neither seed finds enough points lying on one plane near the floor's expected
// height, or the plane found is implausible (too steep, too far from where the robot stands).
GroundEstimate estimate_ground(const Cloud& cloud, const RobotBox& robot,
                               const std::optional<UpVector>& imu);

// Height of the point above the plane (negative below it).
inline float height_above(const GroundEstimate& g, float x, float y, float z) {
  return g.normal[0] * x + g.normal[1] * y + g.normal[2] * z + g.height_m;
}

// The cloud's points that are not ground under the margin, into `out` (its buffer reused).
void without_ground(const Cloud& cloud, const GroundEstimate& ground, float margin, Cloud& out);

}  // namespace app
