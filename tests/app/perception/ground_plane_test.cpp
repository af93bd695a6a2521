// The ground the robot drives on, estimated from the frame itself: never an obstacle for the
// corridors or the frame stream's boxes, whatever the pitch; reported as not seen when it is not
// there; found through the IMU's vertical where the robot's own misses it.
#include "perception/ground_plane.h"

#include <cmath>

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "perception/frame_processing.h"
#include "perception_test_support.h"
#include "tests/app/perception/frame_test_support.h"

namespace app {
namespace {

constexpr double kRad = 3.14159265358979323846 / 180.0;

// A room seen by a robot pitched nose-down by `pitch_deg`: the floor 0.40 m below the LiDAR on a
// 4 cm grid (every 5 cm voxel holds a point) out to 6 m, with the faces the corridors should find.
struct Room {
  double pitch_deg = 0;
  double floor_z = -0.4;
  PointFrame frame;

  void add(double x, double y, double z) {
    const double p = pitch_deg * kRad;
    // Room to robot: the inverse of the robot's pitch.
    frame.points.push_back(CloudPoint{static_cast<float>(x * std::cos(p) - z * std::sin(p)),
                                      static_cast<float>(y),
                                      static_cast<float>(x * std::sin(p) + z * std::cos(p))});
  }
  void floor() {
    for (double x = -5.0; x <= 6.0; x += 0.04) {
      for (double y = -3.0; y <= 3.0; y += 0.04) add(x, y, floor_z);
    }
  }
  // A face across x = at, spanning y and z.
  void face(double at, double y0, double y1, double z0, double z1) {
    for (double y = y0; y <= y1 + 1e-9; y += 0.02) {
      for (double z = z0; z <= z1 + 1e-9; z += 0.02) add(at, y, z);
    }
  }
};

class Ground : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_perception_state(); }
  void TearDown() override { test::reset_perception_state(); }
};

TEST_F(Ground, TheFloorIsGroundAtEveryPitchAndWhatStandsOnItIsNot) {
  for (const double pitch : {-5.0, -2.0, 0.0, 3.0, 5.0}) {
    SCOPED_TRACE(pitch);
    Room room;
    room.pitch_deg = pitch;
    room.floor();
    room.face(3.0, -0.3, 0.3, -0.4, 0.2);   // a bin ahead
    room.face(-2.0, -1.0, 1.0, -0.4, 0.8);  // a shelf behind
    const FrameSummary s = test::process_frame(room.frame, 7);
    ASSERT_TRUE(s.ground.seen);
    EXPECT_NEAR(s.ground.height_m, 0.40, 0.01);
    EXPECT_NEAR(s.ground.tilt_deg, std::fabs(pitch), 0.2);
    EXPECT_NEAR(s.corridor.frente, 3.0, 0.05);
    EXPECT_NEAR(s.corridor.tras, 2.0, 0.05);
    EXPECT_EQ(s.corridor.baixo, 0.f) << "the floor below is no obstacle";
    ASSERT_TRUE(s.has_nearest_box);
    EXPECT_LT(s.nearest_box.d, 0.5f) << "the stream's nearest box is the bin, not the floor";
    EXPECT_NEAR(s.nearest_box.min_x, 3.0, 0.1);
    // The documents keep the floor in their region of interest.
    bool floor_box = false;
    for (const ObstacleBox& b : copy_obstacle_boxes()) floor_box |= b.w > 3.f;
    EXPECT_TRUE(floor_box);
  }

  // A brick 10 cm high on a level floor: only its top 5 cm are above the ground's margin.
  Room room;
  room.floor();
  room.face(2.0, -0.1, 0.1, -0.4, -0.3);
  EXPECT_NEAR(test::process_frame(room.frame, 8).corridor.frente, 2.0, 0.05);
}

// The robot pitching while it brakes: the window's older packets were measured 3 degrees away
// from its newest ones. Each packet's own attitude turns its points back, so the floor stays one
// plane and the far floor does not rise into the corridor ahead.
TEST_F(Ground, APitchChangeWithinTheWindowIsUndone) {
  set_processing_params(ProcessingParams{});
  live_window.window_ms.store(0);
  live_window.max_points.store(kLiveWindowMaxPoints);
  Room older;
  older.pitch_deg = 3;
  for (double x = 1.5; x <= 6.0; x += 0.04) {
    for (double y = -1.0; y <= 1.0; y += 0.04) older.add(x, y, older.floor_z);
  }
  Room newest;
  for (double x = -2.0; x <= 1.5; x += 0.04) {
    for (double y = -2.0; y <= 2.0; y += 0.04) newest.add(x, y, newest.floor_z);
  }
  newest.face(4.5, -0.3, 0.3, -0.2, 0.2);
  const Tilt pitched{0.f, static_cast<float>(3 * kRad)};
  window_append(live_window, older.frame.points.data(), older.frame.points.size(), 10, pitched);
  window_append(live_window, newest.frame.points.data(), newest.frame.points.size(), 20, Tilt{});
  const FrameSummary s = process_window(live_window, 20);
  EXPECT_NEAR(s.ground.tilt_deg, 0.0, 0.2);
  EXPECT_NEAR(s.corridor.frente, 4.5, 0.05);
}

TEST_F(Ground, NoFloorIsNotSeenAndThenNothingIsGround) {
  // A robot on a table: the room's floor far below, a box ahead on the table top, and a crate's
  // top where a floor would be, too small a share of the view to be one.
  Room room;
  room.floor_z = -1.2;
  room.floor();
  room.face(1.0, -0.2, 0.2, -0.36, 0.0);
  for (double x = 1.5; x <= 2.5; x += 0.04) {
    for (double y = 0.3; y <= 1.3; y += 0.04) room.add(x, y, -0.4);
  }
  const FrameSummary s = test::process_frame(room.frame, 5);
  EXPECT_FALSE(s.ground.seen);
  EXPECT_NEAR(s.corridor.frente, 1.0, 1e-6);
  EXPECT_EQ(s.box_count, copy_obstacle_boxes().size());
}

TEST_F(Ground, TheImuVerticalFindsASteepFloorTheRobotsOwnMisses) {
  Room room;
  room.pitch_deg = 20;
  room.floor();
  Cloud cloud;
  for (const CloudPoint& p : room.frame.points) cloud.points.emplace_back(p.x, p.y, p.z);
  EXPECT_FALSE(estimate_ground(cloud, RobotBox{}, std::nullopt).seen);

  AttitudeState pitched;
  pitched.pitch = static_cast<float>(20 * kRad);
  const GroundEstimate g = estimate_ground(cloud, RobotBox{}, imu_up(pitched, MountingPose{}));
  EXPECT_TRUE(g.seen);
  EXPECT_NEAR(g.tilt_deg, 20.0, 0.2);

  // Mounted pitched 20 degrees, the same IMU reading is the robot standing level.
  MountingPose mounting;
  mounting.given = true;
  mounting.rpy_deg[1] = 20.f;
  const UpVector up = imu_up(pitched, mounting);
  EXPECT_NEAR(up.x, 0.f, 1e-6f);
  EXPECT_NEAR(up.z, 1.f, 1e-6f);
}

}  // namespace
}  // namespace app
