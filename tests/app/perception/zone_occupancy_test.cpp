// The zones' rule, datagram by datagram on arrival times: enough points within 20 ms occupy a
// zone, a release time without any frees it, ground points and sparse flicker raise nothing.
#include "perception/zone_occupancy.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

namespace app {
namespace {

constexpr uint64_t kMs = 1000000;

ZoneSettings zone(const char* name, float x0, float x1, uint32_t min_points = 5,
                  uint32_t release_ms = 300) {
  ZoneSettings z;
  z.name = name;
  z.min[0] = x0, z.min[1] = -0.5f, z.min[2] = -0.5f;
  z.max[0] = x1, z.max[1] = 0.5f, z.max[2] = 0.5f;
  z.min_points = min_points;
  z.release_ms = release_ms;
  return z;
}

class Zones : public ::testing::Test {
 protected:
  // `n` points at x (and z) in one datagram arriving at `ms`; the changes it made.
  std::vector<ZoneTransition> feed(ZoneOccupancy& zones, uint64_t ms, int n, float x = 1.f,
                                   float z = 0.f) {
    std::vector<CloudPoint> points(static_cast<std::size_t>(n));
    for (CloudPoint& p : points) p.x = x, p.z = z;
    points.push_back(CloudPoint{5.f, 3.f, 0.f});  // outside every zone
    std::vector<ZoneTransition> out;
    zones.judge(points.data(), points.size(), ground, ms * kMs, out);
    return out;
  }
  ZoneGround ground;
};

TEST_F(Zones, EnoughPointsWithinTwentyMillisecondsOccupyOnceAndAReleaseTimeWithoutAnyFrees) {
  ZoneOccupancy zones({zone("parar", 0.5f, 1.5f)});
  EXPECT_TRUE(feed(zones, 1000, 4).empty());
  EXPECT_TRUE(feed(zones, 1021, 1).empty()) << "the first four arrived more than 20 ms before";
  EXPECT_TRUE(feed(zones, 1030, 2).empty());
  const auto occupied = feed(zones, 1040, 2, 0.8f);
  ASSERT_EQ(occupied.size(), 1u);
  EXPECT_EQ(occupied[0].state, ZoneState::kOccupied);
  EXPECT_EQ(occupied[0].points, 5u);
  EXPECT_FLOAT_EQ(occupied[0].nearest_m, 0.8f);
  EXPECT_EQ(occupied[0].arrival_ns, 1040 * kMs) << "the deciding datagram's own arrival";
  EXPECT_TRUE(feed(zones, 1041, 50).empty()) << "occupied once, not per datagram";

  EXPECT_TRUE(feed(zones, 1300, 0).empty()) << "259 ms without a point";
  EXPECT_TRUE(feed(zones, 1340, 1).empty()) << "one point keeps it occupied";
  EXPECT_TRUE(feed(zones, 1639, 0).empty());
  const auto freed = feed(zones, 1640, 0);
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0].state, ZoneState::kFree);
  EXPECT_EQ(freed[0].points, 0u);
  EXPECT_TRUE(std::isnan(freed[0].nearest_m));
  EXPECT_TRUE(feed(zones, 1900, 0).empty());
}

TEST_F(Zones, StartUnknownASparseFlickerFreesButNeverRaisesAndForgetStartsOver) {
  ZoneOccupancy zones({zone("parar", 0.5f, 1.5f)});
  EXPECT_EQ(zones.state(0), ZoneState::kUnknown);
  std::vector<ZoneTransition> seen;
  // Two points every 30 ms for two seconds: never five within 20 ms.
  for (uint64_t ms = 0; ms < 2000; ms += 5) {
    for (const ZoneTransition& t : feed(zones, 5000 + ms, ms % 30 == 0 ? 2 : 0)) seen.push_back(t);
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].state, ZoneState::kFree);
  EXPECT_EQ(seen[0].arrival_ns, 5300 * kMs) << "watched for its release time, never occupied";

  zones.forget();
  EXPECT_EQ(zones.state(0), ZoneState::kUnknown);
  EXPECT_TRUE(feed(zones, 9000, 4).empty()) << "nothing counted from before";
  EXPECT_EQ(feed(zones, 9001, 1).at(0).state, ZoneState::kOccupied) << "unknown to occupied";
}

TEST_F(Zones, GroundPointsTheOriginAndOtherZonesPointsDoNotCount) {
  ZoneOccupancy zones({zone("perto", 0.5f, 1.5f), zone("longe", 1.f, 3.f, 3)});
  ground.on = true;
  ground.height = 0.4f;  // the floor 0.40 m below the LiDAR
  ground.margin = 0.05f;
  EXPECT_TRUE(feed(zones, 100, 20, 1.2f, -0.36f).empty()) << "within the margin: ground";
  EXPECT_TRUE(feed(zones, 101, 20, 0.f, 0.f).empty()) << "no return decodes as the origin";
  const auto both = feed(zones, 102, 5, 1.2f, -0.34f);
  ASSERT_EQ(both.size(), 2u) << "a point inside two zones counts for both";
  EXPECT_EQ(both[0].zone, 0u);
  EXPECT_EQ(both[1].zone, 1u);

  ZoneOccupancy far({zone("longe", 1.f, 3.f, 3)});
  ground.on = false;  // no ground seen: every point counts
  EXPECT_EQ(feed(far, 100, 3, 2.f, -0.45f).size(), 1u);
}

}  // namespace
}  // namespace app
