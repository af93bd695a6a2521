// The zones on the data thread, through the point callback: judged after the mounting's turn, at
// each datagram's own arrival, with the ground left out by the robot box's floor until a frame
// fits a plane and by that plane afterwards; the stream going OFF starts them over.
#include "perception/zone_intake.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/zone_events.h"
#include "perception/datagram_clock.h"
#include "perception/mounting.h"
#include "perception/point_intake.h"
#include "perception_test_support.h"

namespace app {
namespace {

using test::as_packet;

int64_t arrival_ns = 0;
int64_t reported_arrival() { return arrival_ns; }

class ZoneIntake : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_perception_state();
    use_datagram_arrival_clock(reported_arrival);
    ZoneSettings zone;
    zone.name = "parar";
    zone.min[0] = 0.5f, zone.min[1] = -0.5f, zone.min[2] = -0.5f;
    zone.max[0] = 1.5f, zone.max[1] = 0.5f, zone.max[2] = 0.5f;
    set_intake_zones({zone}, RobotBox{}, GroundSettings{});  // the floor guess at z = -0.38
    drain();
  }
  void TearDown() override {
    set_intake_zones({}, RobotBox{}, GroundSettings{});
    set_intake_mounting(MountingPose{});
    use_datagram_arrival_clock(nullptr);
    test::reset_perception_state();
    drain();
  }
  // Five points at (x, 0, z) millimetres arriving at `ms`.
  static void feed(int64_t ms, int32_t x, int32_t z) {
    arrival_ns = ms * 1000000;
    auto datagram = test::high_points({{x, 0, z}, {x, 0, z}, {x, 0, z}, {x, 0, z}, {x, 0, z}});
    on_point_cloud(1, 0, as_packet(datagram), nullptr);
  }
  static std::vector<ZoneEvent> drain() {
    std::vector<ZoneEvent> out;
    ZoneEvent event;
    while (take_zone_event(event, std::chrono::milliseconds(0))) out.push_back(event);
    return out;
  }
};

TEST_F(ZoneIntake, GroundIsLeftOutByTheFloorGuessThenByTheFramesPlaneAndOffStartsOver) {
  feed(10000, 1000, -360);  // 2 cm above the floor guess: ground
  EXPECT_TRUE(drain().empty());
  feed(10001, 1000, -320);  // 6 cm above it: an obstacle
  auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].state, ZoneState::kOccupied);
  EXPECT_EQ(events[0].points, 5u);
  EXPECT_NEAR(events[0].nearest_m, std::hypot(1.0, 0.32), 1e-4);
  EXPECT_EQ(copy_zone_states().state[0], ZoneState::kOccupied);

  // The OFF: unknown at once, and the counts and the frame's plane are forgotten.
  GroundEstimate seen;
  seen.seen = true;
  seen.height_m = 0.30f;  // a floor 0.30 m below
  note_zone_ground(seen);
  declare_zones_unknown(1);
  events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].state, ZoneState::kUnknown);
  feed(20000, 1000, -320);  // the guess again, not the forgotten plane: counts
  EXPECT_EQ(drain().at(0).state, ZoneState::kOccupied);

  note_zone_ground(seen);
  declare_zones_unknown(2);
  drain();
  feed(30000, 3000, 0);  // outside the zone: the OFF is seen
  note_zone_ground(seen);
  feed(30010, 1000, -320);  // under the frame's plane (z = -0.30): ground
  feed(30011, 1000, -320);
  EXPECT_TRUE(drain().empty());
  GroundEstimate none;  // a frame without ground: every point counts
  note_zone_ground(none);
  feed(30012, 1000, -390);
  EXPECT_EQ(drain().at(0).state, ZoneState::kOccupied);
}

TEST_F(ZoneIntake, ZonesAreInTheRobotsAxesAfterTheMountingsTurn) {
  MountingPose pose;
  pose.given = true;
  pose.rpy_deg[2] = 90.f;  // the unit faces the robot's left
  set_intake_mounting(pose);
  feed(10000, 1000, 0);  // 1 m along the unit's x: the robot's left, outside the zone
  EXPECT_TRUE(drain().empty());
  arrival_ns = int64_t{10002} * 1000000;
  auto datagram = test::high_points({{0, -1000, 0},
                                     {0, -1000, 0},
                                     {0, -1000, 0},
                                     {0, -1000, 0},
                                     {0, -1000, 0}});  // the unit's right: the robot's front
  on_point_cloud(1, 0, as_packet(datagram), nullptr);
  const auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].state, ZoneState::kOccupied);
}

}  // namespace
}  // namespace app
