#include "perception/frame_processing.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "core/shared_state.h"
#include "perception_test_support.h"
#include "tests/app/perception/frame_test_support.h"

namespace app {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

PointFrame frame_of(std::initializer_list<std::array<float, 3>> points) {
  PointFrame frame;
  for (const auto& p : points) frame.points.push_back(CloudPoint{p[0], p[1], p[2]});
  return frame;
}

CloudPtr cloud_of(std::initializer_list<std::array<float, 3>> points) {
  auto cloud = std::make_shared<Cloud>();
  for (const auto& p : points) cloud->points.emplace_back(p[0], p[1], p[2]);
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  return cloud;
}

void expect_distances(const ObstacleDistances& d, std::array<float, 6> expected) {
  EXPECT_FLOAT_EQ(d.frente, expected[0]);
  EXPECT_FLOAT_EQ(d.tras, expected[1]);
  EXPECT_FLOAT_EQ(d.esquerda, expected[2]);
  EXPECT_FLOAT_EQ(d.direita, expected[3]);
  EXPECT_FLOAT_EQ(d.cima, expected[4]);
  EXPECT_FLOAT_EQ(d.baixo, expected[5]);
}

class FrameProcessing : public ::testing::Test {
 protected:
  void SetUp() override {
    test::reset_perception_state();
    std::lock_guard<std::mutex> hold(state_mutex);
    obstacle_boxes.assign(3, ObstacleBox{});  // left over from an earlier frame
  }
  void TearDown() override { test::reset_perception_state(); }
};

TEST_F(FrameProcessing, EmptyOrNonFiniteFramesGiveZerosAndNoBoxes) {
  for (const PointFrame& frame :
       {frame_of({}), frame_of({{kNaN, 1, 1}, {1, kInf, 1}, {1, 1, -kInf}})}) {
    {
      std::lock_guard<std::mutex> hold(state_mutex);
      obstacle_boxes.assign(2, ObstacleBox{});
      distances.frente = kNaN;
    }
    test::process_frame(frame, 4242);
    const ObstacleDistances d = copy_distances();
    expect_distances(d, {0, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.frame_ms, 4242u);
    EXPECT_TRUE(copy_obstacle_boxes().empty());
  }
  test::process_frame(frame_of({{kNaN, 0, 0}, {1.5f, 0.5f, -0.25f}}),
                      7);  // only the bad point goes
  expect_distances(copy_distances(), {1.5f, 0, 0.5f, 0, 0, 0.25f});
}

TEST_F(FrameProcessing, EachDistanceIsTheNearestCoordinateOnItsSide) {
  const ProcessingParams p;
  const auto cloud = cloud_of({{3.0f, -1.0f, 1.5f},
                               {2.0f, 1.2f, -0.3f},
                               {-0.05f, 0.7f, 0.4f},
                               {-0.08f, -0.6f, -0.2f},
                               {0.0f, 0.0f, 0.0f}});  // on every axis: neither side
  const ObstacleDistances d = directional_distances(*cloud, p, 99);
  expect_distances(d, {2.0f, 0.05f, 0.7f, 0.6f, 0.4f, 0.2f});
  EXPECT_EQ(d.frame_ms, 99u);
  expect_distances(directional_distances(*cloud_of({{0, 0, 0}}), p, 1), {0, 0, 0, 0, 0, 0});
}

TEST_F(FrameProcessing, DistancesBeyondTheRegionFacesAreDropped) {
  const ProcessingParams p;  // faces: 6.0 ahead, 0.1 behind, 2.0 sideways and up, 0.5 down
  // Just inside every face.
  expect_distances(directional_distances(*cloud_of({{6.0f, 2.0f, 2.0f}, {-0.1f, -2.0f, -0.5f}}),
                                         p, 0),
                   {6.0f, 0.1f, 2.0f, 2.0f, 2.0f, 0.5f});
  // Just outside every face.
  expect_distances(
      directional_distances(*cloud_of({{6.01f, 2.01f, 2.01f}, {-0.11f, -2.01f, -0.51f}}), p, 0),
      {0, 0, 0, 0, 0, 0});
  // The other two coordinates do not restrict a distance.
  expect_distances(directional_distances(*cloud_of({{5.99f, 30.0f, -40.0f}}), p, 0),
                   {5.99f, 0, 0, 0, 0, 0});
  expect_distances(directional_distances(*cloud_of({{-0.5f, 0, 0}}), p, 0), {0, 0, 0, 0, 0, 0});

  ProcessingParams flipped;  // faces are taken by magnitude behind, right and below
  flipped.roi_x_min = 0.3f;
  flipped.roi_y_min = 1.0f;
  flipped.roi_z_min = 0.2f;
  expect_distances(directional_distances(*cloud_of({{-0.3f, -1.0f, -0.2f}}), flipped, 0),
                   {0, 0.3f, 0, 1.0f, 0, 0.2f});
}

// Only what the robot would run into moving each way: beyond its face on that side, within its
// extent on the other two axes (faces included), and within the same range limits.
TEST_F(FrameProcessing, CorridorDistancesCountOnlyThePointsTheRobotWouldSweep) {
  ProcessingParams p;
  p.robot = RobotBox{-0.3f, -0.2f, -0.4f, 0.2f, 0.2f, 0.1f};
  const auto cloud = cloud_of({{1.0f, 0.5f, 0.0f},      // ahead but beside the robot
                               {2.0f, 0.2f, 0.1f},      // ahead, on the cross-section's corner
                               {0.2f, 0.0f, 0.0f},      // on the front face: not ahead of it
                               {-0.05f, 0.0f, 0.0f},    // inside the box: the robot itself
                               {0.1f, 0.9f, -0.2f},     // left
                               {0.0f, -1.5f, 0.0f},     // right
                               {0.1f, 0.1f, -0.45f},    // below
                               {0.1f, 0.1f, 2.5f},      // above, beyond 2.0
                               {-0.35f, 0.0f, 0.0f}});  // behind, past the back face
  const FrameDistances d = frame_distances(*cloud, p, 3);
  // The corridors' own limits: the one behind reaches past the region's 0.1 m.
  expect_distances(d.corridor, {2.0f, 0.35f, 0.9f, 1.5f, 0, 0.45f});
  EXPECT_EQ(d.corridor.frame_ms, 3u);
  expect_distances(d.axes, {0.1f, 0.05f, 0.1f, 1.5f, 0.1f, 0.2f});
  p.corridor = CorridorLimits{1.9f, 0.3f, 0.8f, 2.f, 2.f, true, 0.4f};
  expect_distances(frame_distances(*cloud, p, 3).corridor, {0, 0, 0, 1.5f, 0, 0});
}

// The first frames after a start hold a few milliseconds of a scan: a direction the scan had not
// yet swept read 0.00 ("nothing within range") where the next frame found an obstacle.
TEST_F(FrameProcessing, DistancesAreNotMeasuredUntilTheWindowHeldItsWholeSpan) {
  PointWindow window;
  window.window_ms.store(150);
  window.max_points.store(1000);
  const CloudPoint ahead{2.0f, 0.0f, 0.0f};
  // A datagram at t, then its frame; 1500 comes after a gap longer than the window.
  const std::pair<uint64_t, bool> frames[] = {
      {1000, false}, {1149, false}, {1150, true}, {1290, true}, {1500, false}};
  for (const auto& [t, measured] : frames) {
    window_append(window, &ahead, 1, t);
    process_window(window, t);
    EXPECT_EQ(std::isnan(copy_corridor_distances().frente), !measured) << t;
    EXPECT_EQ(std::isnan(copy_distances().frente), !measured) << t;
  }
}

TEST_F(FrameProcessing, ThinningKeepsTheFirstPointOfEachVoxel) {
  const PointFrame frame = frame_of({{1.04f, 0.01f, 0.01f},
                                     {1.01f, 0.04f, 0.02f},   // same voxel as the first
                                     {-0.01f, 0.01f, 0.01f},  // floor() puts it one voxel lower
                                     {0.01f, 0.01f, 0.01f},
                                     {kNaN, 0.f, 0.f},
                                     {0.02f, 0.03f, 0.04f}});  // same voxel as the fourth
  Cloud thinned;
  test::thin_frame(frame, 0.05f, thinned);
  ASSERT_EQ(thinned.points.size(), 3u);
  EXPECT_FLOAT_EQ(thinned.points[0].x, 1.04f);
  EXPECT_FLOAT_EQ(thinned.points[1].x, -0.01f);
  EXPECT_FLOAT_EQ(thinned.points[2].x, 0.01f);
  EXPECT_EQ(thinned.width, 3u);
  EXPECT_EQ(thinned.height, 1u);
  EXPECT_FALSE(thinned.is_dense);

  test::thin_frame(frame_of({}), 0.05f, thinned);
  EXPECT_TRUE(thinned.points.empty());
  // A zero leaf falls back to a tiny one; far-away points must not overflow the grid.
  test::thin_frame(frame_of({{1e30f, -1e30f, 0}, {1, 1, 1}, {1, 1, 1}}), 0.f, thinned);
  EXPECT_EQ(thinned.points.size(), 2u);
}

TEST_F(FrameProcessing, OnlyTheFirstPointOfAVoxelReachesTheDistances) {
  test::process_frame(frame_of({{1.04f, 0.01f, 0.01f}, {1.01f, 0.02f, 0.02f}}), 5);
  EXPECT_FLOAT_EQ(copy_distances().frente, 1.04f);
}

TEST_F(FrameProcessing, BoxesNeedAtLeastMinClusterVoxelsThinnedPoints) {
  // A 59-voxel and then a 60-voxel row, one point per 5 cm voxel.
  for (int n : {59, 60}) {
    PointFrame frame;
    for (int i = 0; i < n; ++i) frame.points.push_back(CloudPoint{1.0f + 0.05f * i + 0.01f, 0.01f, 0.01f});
    test::process_frame(frame, 10);
    EXPECT_FLOAT_EQ(copy_distances().frente, 1.01f);
    EXPECT_EQ(copy_obstacle_boxes().size(), n == 60 ? 1u : 0u) << n << " voxels";
  }
}

}  // namespace
}  // namespace app
