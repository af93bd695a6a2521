// The optimised intake and frame processing against plain readings of the same rules, on
// randomised scenes: the same snapshots, the same thinned cloud in the same order, the same
// distances and the same set of boxes.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "perception/cloud_thinning.h"
#include "core/shared_state.h"
#include "perception/frame_processing.h"
#include "perception/point_intake.h"
#include "perception/voxel_clustering.h"
#include "perception_test_support.h"
#include "reference_pipeline.h"
#include "tests/app/core/reference_window.h"
#include "tests/app/perception/frame_test_support.h"

namespace app {
namespace {

// Boxes standing in and around the region of interest, sparse noise everywhere, some points
// on voxel faces and some non-finite ones.
PointFrame random_scene(std::mt19937& rng, int obstacles, std::size_t count) {
  std::uniform_real_distribution<float> u(0.f, 1.f);
  struct Block {
    float x, y, z, sx, sy, sz;
  };
  std::vector<Block> blocks;
  for (int i = 0; i < obstacles; ++i) {
    blocks.push_back({-1.f + 8.f * u(rng), -3.f + 6.f * u(rng), -1.f + 3.5f * u(rng),
                      0.05f + 0.6f * u(rng), 0.05f + 0.6f * u(rng), 0.05f + 0.8f * u(rng)});
  }
  PointFrame frame;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t i = 0; i < count; ++i) {
    const float pick = u(rng);
    if (pick < 0.01f) {
      frame.points.push_back(CloudPoint{nan, 1.f, 1.f});
    } else if (pick < 0.04f) {
      // Exactly on a voxel face (a multiple of 5 cm), where rounding decides the voxel.
      const auto k = [&](int lo, int hi) {
        return static_cast<float>(std::uniform_int_distribution<int>(lo, hi)(rng)) * 0.05f;
      };
      frame.points.push_back(CloudPoint{k(-20, 130), k(-50, 50), k(-12, 42)});
    } else if (pick < 0.15f || blocks.empty()) {
      frame.points.push_back(
          CloudPoint{-3.f + 12.f * u(rng), -4.f + 8.f * u(rng), -1.f + 4.f * u(rng)});
    } else {
      const Block& b = blocks[static_cast<std::size_t>(u(rng) * blocks.size()) % blocks.size()];
      frame.points.push_back(
          CloudPoint{b.x + b.sx * u(rng), b.y + b.sy * u(rng), b.z + b.sz * u(rng)});
    }
  }
  return frame;
}

using BoxKey = std::tuple<float, float, float, float, float, float, uint32_t, float, float>;

BoxKey key_of(const ObstacleBox& b) {
  return {b.min_x, b.min_y, b.min_z, b.max_x, b.max_y, b.max_z, b.voxels, b.dist_m, b.dist_xy_m};
}

std::vector<BoxKey> sorted_keys(const std::vector<ObstacleBox>& boxes) {
  std::vector<BoxKey> keys;
  for (const ObstacleBox& b : boxes) keys.push_back(key_of(b));
  std::sort(keys.begin(), keys.end());
  return keys;
}

Cloud cloud_of(const std::vector<reference::Point3>& points) {
  Cloud cloud;
  for (const auto& p : points) cloud.points.emplace_back(p.x, p.y, p.z);
  cloud.width = static_cast<uint32_t>(cloud.points.size());
  cloud.height = 1;
  return cloud;
}

class PipelineEquivalence : public ::testing::Test {
 protected:
  void SetUp() override { test::reset_perception_state(); }
  void TearDown() override { test::reset_perception_state(); }
};

// Parameter sets that take the grid (defaults, a shifted and a small region, a coarse voxel)
// and the hash path (a region far too large for a grid), with robot boxes of several shapes
// (one with its faces on voxel faces, where the scenes put some points).
std::vector<ProcessingParams> parameter_sets() {
  std::vector<ProcessingParams> sets(5);
  sets[1].robot = RobotBox{-0.6f, -0.45f, -0.3f, 0.35f, 0.5f, 0.2f};
  sets[2].robot = RobotBox{-0.5f, -0.25f, -0.4f, 0.3f, 0.25f, 0.1f};
  sets[3].robot = RobotBox{-1.3f, -1.1f, -0.9f, 0.f, 1.2f, 0.7f};
  sets[1].roi_x_min = -1.23f;
  sets[1].roi_y_min = -0.77f;
  sets[1].roi_z_max = 0.61f;
  sets[1].min_cluster_voxels = 3;
  sets[2].voxel_size = 0.13f;
  sets[2].min_cluster_voxels = 1;
  sets[2].max_cluster_voxels = 40;
  sets[3].roi_x_min = -1.0e7f;
  sets[3].roi_x_max = 1.0e7f;
  sets[3].roi_y_min = -1.0e7f;
  sets[3].roi_y_max = 1.0e7f;
  sets[3].min_cluster_voxels = 5;
  sets[4].voxel_size = 0.f;  // the smallest cell, 1 cm
  sets[4].min_cluster_voxels = 2;
  return sets;
}

TEST_F(PipelineEquivalence, ThinningDistancesAndBoxesMatchThePlainReading) {
  std::mt19937 rng(2024);
  int corridor_hits = 0;
  for (int round = 0; round < 12; ++round) {
    const PointFrame frame =
        random_scene(rng, 2 + round % 9, static_cast<std::size_t>(2000 + 1500 * round));
    for (const ProcessingParams& params : parameter_sets()) {
      SCOPED_TRACE(testing::Message() << "round " << round << " voxel " << params.voxel_size
                                      << " x from " << params.roi_x_min);
      const auto expected_thin = reference::thin(frame.points, params.voxel_size);
      Cloud thinned;
      test::thin_frame(frame, params.voxel_size, thinned);
      ASSERT_EQ(thinned.points.size(), expected_thin.size());
      for (std::size_t i = 0; i < expected_thin.size(); ++i) {
        ASSERT_EQ(thinned.points[i].x, expected_thin[i].x);
        ASSERT_EQ(thinned.points[i].y, expected_thin[i].y);
        ASSERT_EQ(thinned.points[i].z, expected_thin[i].z);
      }

      set_processing_params(params);
      const FrameSummary summary = test::process_frame(frame, 500 + round);
      const auto six = [](const ObstacleDistances& v) {
        return std::make_tuple(v.frente, v.tras, v.esquerda, v.direita, v.cima, v.baixo,
                               v.frame_ms);
      };
      const ObstacleDistances d = copy_distances();
      const ObstacleDistances e =
          directional_distances(cloud_of(expected_thin), params, 500 + round);
      EXPECT_EQ(six(d), six(e));
      const ObstacleDistances c = copy_corridor_distances();
      EXPECT_EQ(six(c),
                six(reference::corridor(expected_thin, params, 500 + round, summary.ground)));
      EXPECT_EQ(six(summary.distances), six(d));
      EXPECT_EQ(six(summary.corridor), six(c));
      for (float v : {c.frente, c.tras, c.esquerda, c.direita, c.cima, c.baixo})
        corridor_hits += v > 0.f;

      auto expected_boxes = reference::clusters(expected_thin, params, 500 + round);
      if (static_cast<int64_t>(expected_thin.size()) < params.min_cluster_voxels)
        expected_boxes.clear();
      const auto boxes = copy_obstacle_boxes();
      if (expected_boxes.size() <= kMaxObstacleBoxes) {
        EXPECT_EQ(sorted_keys(boxes), sorted_keys(expected_boxes));
      } else {
        EXPECT_EQ(boxes.size(), kMaxObstacleBoxes);
      }
      for (const ObstacleBox& b : boxes) EXPECT_EQ(b.t_ms, 500u + round);
      EXPECT_EQ(summary.box_count, copy_stream_boxes().size());
      if (!summary.ground.seen) {
        EXPECT_EQ(summary.box_count, boxes.size());
      }
    }
  }
  EXPECT_GT(corridor_hits, 40) << "the scenes must reach into the corridors";
}

// Thinning reuses its table across calls: a large cloud, then a small one, then the first again
// must give what fresh tables give.
TEST_F(PipelineEquivalence, ThinningIsUnaffectedByEarlierClouds) {
  std::mt19937 rng(5);
  const PointFrame big = random_scene(rng, 10, 60000);
  const PointFrame small = random_scene(rng, 3, 500);
  Cloud out;
  for (const PointFrame* frame : {&big, &small, &big, &small}) {
    test::thin_frame(*frame, 0.05f, out);
    EXPECT_EQ(out.points.size(), reference::thin(frame->points, 0.05f).size());
  }
}

// The worker thins the window in place: entry by entry, newest first, the oldest cut by the
// budget. That must give the plain thinning of the window's content, point for point, whatever
// size the previous pass left the table at.
TEST_F(PipelineEquivalence, ThinningTheWindowInPlaceMatchesThinningItsSnapshot) {
  std::mt19937 rng(77);
  for (int round = 0; round < 6; ++round) {
    const PointFrame scene =
        random_scene(rng, 1 + round, static_cast<std::size_t>(500 + 9000 * round));
    PointWindow window;
    window.max_points = static_cast<int64_t>(scene.points.size() * 3 / 4);
    for (std::size_t first = 0, d = 0; first < scene.points.size(); ++d) {
      const std::size_t n = std::min<std::size_t>(
          std::uniform_int_distribution<std::size_t>(0, 96)(rng), scene.points.size() - first);
      window_append(window, scene.points.data() + first, n, 100 + d);
      first += n;
    }
    const PointFrame snapshot = test::content_of(window);
    for (float leaf : {0.05f, 0.2f, 0.f}) {
      Cloud in_place;
      EXPECT_EQ(thin_window(window, leaf, in_place), snapshot.stamp_ms);
      const auto expected = reference::thin(snapshot.points, leaf);
      ASSERT_EQ(in_place.points.size(), expected.size()) << "round " << round;
      EXPECT_EQ(in_place.width, expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(in_place.points[i].x, expected[i].x) << "round " << round << " point " << i;
        ASSERT_EQ(in_place.points[i].y, expected[i].y);
        ASSERT_EQ(in_place.points[i].z, expected[i].z);
      }
    }
  }
  PointWindow empty;
  Cloud out;
  EXPECT_EQ(thin_window(empty, 0.05f, out), 0u);
  EXPECT_TRUE(out.points.empty());
}

// A crowd of isolated single voxels: 200 boxes, each a real cluster, none twice; the grid is
// left clean for the next frame.
TEST_F(PipelineEquivalence, ACrowdYieldsTwoHundredDistinctRealBoxes) {
  ProcessingParams p;
  p.min_cluster_voxels = 1;
  std::vector<reference::Point3> points;
  for (int i = 0; i < 30; ++i)
    for (int j = 0; j < 20; ++j) points.push_back({0.5f + 0.15f * i, -1.5f + 0.15f * j, 0.5f});
  const Cloud cloud = cloud_of(points);
  const auto all = sorted_keys(reference::clusters(points, p, 0));
  ASSERT_EQ(all.size(), 600u);
  for (int pass = 0; pass < 2; ++pass) {
    const auto boxes = sorted_keys(cluster_obstacles(cloud, p, 0));
    ASSERT_EQ(boxes.size(), kMaxObstacleBoxes);
    EXPECT_EQ(std::adjacent_find(boxes.begin(), boxes.end()), boxes.end());
    for (const BoxKey& k : boxes) EXPECT_TRUE(std::binary_search(all.begin(), all.end(), k));
  }
  // After the early stop, a frame with one blob sees only that blob.
  const Cloud one = cloud_of({{1.0f, 0.f, 0.2f}});
  EXPECT_EQ(cluster_obstacles(one, p, 0).size(), 1u);
}

// Regions no grid can hold (huge, not finite, inverted, a hair-thin cell over a wide region)
// are clustered through the hash table or yield nothing, without a grid-sized allocation.
TEST_F(PipelineEquivalence, UnusualRegionsTakeTheBoundedPath) {
  std::vector<reference::Point3> points;
  for (int i = 0; i < 4; ++i) points.push_back({1000.f + 0.01f * i, 2000.f, -5000.f});
  points.push_back({1.f, 1.f, 1.f});
  const Cloud cloud = cloud_of(points);

  ProcessingParams huge;
  huge.roi_x_min = huge.roi_y_min = huge.roi_z_min = -3.0e38f;
  huge.roi_x_max = huge.roi_y_max = huge.roi_z_max = 3.0e38f;
  huge.voxel_size = 0.01f;
  huge.min_cluster_voxels = 1;
  EXPECT_EQ(sorted_keys(cluster_obstacles(cloud, huge, 3)),
            sorted_keys(reference::clusters(points, huge, 3)));

  ProcessingParams endless = huge;
  endless.roi_x_max = std::numeric_limits<float>::infinity();
  EXPECT_EQ(cluster_obstacles(cloud, endless, 3).size(), 2u);

  ProcessingParams undefined = huge;
  undefined.roi_y_min = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(cluster_obstacles(cloud, undefined, 3).empty());

  ProcessingParams inverted;
  inverted.min_cluster_voxels = 1;
  std::swap(inverted.roi_x_min, inverted.roi_x_max);
  EXPECT_TRUE(cluster_obstacles(cloud, inverted, 3).empty());
}

// The callback against the per-datagram snapshot design, datagram by datagram: the viewer's
// latest_cloud and the worker's frame hold what the old design published after each one.
TEST_F(PipelineEquivalence, IntakePublishesWhatThePerDatagramSnapshotHeld) {
  std::mt19937 rng(11);
  live_window.max_points = 500;
  reference::SnapshotWindow reference;
  reference.max_points = 500;
  for (int d = 0; d < 200; ++d) {
    const int count = std::uniform_int_distribution<int>(0, 96)(rng);
    std::vector<std::array<int32_t, 3>> mm;
    for (int i = 0; i < count; ++i) mm.push_back({d * 1000 + i, -i, 7});
    auto datagram = d % 17 == 5 ? test::make_header(9, 3, 0) : test::high_points(mm);
    on_point_cloud(1, 0, test::as_packet(datagram), nullptr);
    if (test::as_packet(datagram) != nullptr && count == 0 && d % 17 != 5) continue;  // ignored

    std::vector<CloudPoint> points;
    if (d % 17 != 5) {
      for (const auto& p : mm) {
        points.push_back(CloudPoint{static_cast<float>(p[0]) / 1000.0f,
                                    static_cast<float>(p[1]) / 1000.0f, 0.007f});
      }
    }
    const PointFrame expected = reference.datagram(points, last_pcl_ms.load());
    const PointFrame worker = test::content_of(live_window);
    const PointFrame viewer = copy_latest_cloud();
    for (const PointFrame* seen : {static_cast<const PointFrame*>(&worker), &viewer}) {
      ASSERT_EQ(seen->stamp_ms, expected.stamp_ms) << "datagram " << d;
      ASSERT_EQ(seen->points.size(), expected.points.size()) << "datagram " << d;
      for (std::size_t i = 0; i < expected.points.size(); ++i) {
        ASSERT_EQ(seen->points[i].x, expected.points[i].x) << "datagram " << d;
        ASSERT_EQ(seen->points[i].y, expected.points[i].y) << "datagram " << d;
      }
    }
  }
}

}  // namespace
}  // namespace app
