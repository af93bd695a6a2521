#include "perception/voxel_clustering.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

namespace app {
namespace {

constexpr float kCell = 0.05f;

// One point in the middle of voxel (ix, iy, iz) of the default 5 cm grid.
void add_voxel(Cloud& cloud, int ix, int iy, int iz) {
  cloud.points.emplace_back((ix + 0.5f) * kCell, (iy + 0.5f) * kCell, (iz + 0.5f) * kCell);
}

// n voxels filling an x-major block of rows 10 voxels long, starting at voxel (ix, iy, iz).
void add_blob(Cloud& cloud, int n, int ix, int iy, int iz) {
  for (int i = 0; i < n; ++i) add_voxel(cloud, ix + i % 10, iy + (i / 10) % 10, iz + i / 100);
}

TEST(VoxelClustering, AcceptsClustersFromTheMinimumSizeOn) {
  const ProcessingParams p;
  Cloud cloud;
  add_blob(cloud, 59, 20, 0, 0);
  EXPECT_TRUE(cluster_obstacles(cloud, p, 1).empty());

  add_voxel(cloud, 29, 5, 0);  // the 60th voxel, completing the sixth row
  const auto boxes = cluster_obstacles(cloud, p, 77);
  ASSERT_EQ(boxes.size(), 1u);
  const ObstacleBox& b = boxes[0];
  EXPECT_EQ(b.voxels, 60u);
  EXPECT_EQ(b.t_ms, 77u);
  // The box spans whole voxels: x 20..29, y 0..5, z 0.
  EXPECT_FLOAT_EQ(b.min_x, 20 * kCell);
  EXPECT_FLOAT_EQ(b.max_x, 30 * kCell);
  EXPECT_FLOAT_EQ(b.min_y, 0.f);
  EXPECT_FLOAT_EQ(b.max_y, 6 * kCell);
  EXPECT_FLOAT_EQ(b.min_z, 0.f);
  EXPECT_FLOAT_EQ(b.max_z, kCell);
  EXPECT_FLOAT_EQ(b.cx, 1.25f);
  EXPECT_FLOAT_EQ(b.cy, 0.15f);
  EXPECT_FLOAT_EQ(b.cz, 0.025f);
  EXPECT_FLOAT_EQ(b.d, 0.5f);
  EXPECT_FLOAT_EQ(b.w, 0.3f);
  EXPECT_FLOAT_EQ(b.h, 0.05f);
  EXPECT_FLOAT_EQ(b.dist_m, std::sqrt(1.25f * 1.25f + 0.15f * 0.15f + 0.025f * 0.025f));
  EXPECT_FLOAT_EQ(b.dist_xy_m, std::sqrt(1.25f * 1.25f + 0.15f * 0.15f));
  EXPECT_FLOAT_EQ(b.frente_m, b.cx);
}

TEST(VoxelClustering, VoxelsTouchingOnlyAtACornerFormOneCluster) {
  ProcessingParams p;
  p.min_cluster_voxels = 2;
  Cloud cloud;
  add_voxel(cloud, 20, 0, 0);
  add_voxel(cloud, 21, 1, 1);
  add_voxel(cloud, 23, 1, 1);  // two voxels away: its own cluster of one, rejected
  const auto boxes = cluster_obstacles(cloud, p, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].voxels, 2u);
  EXPECT_FLOAT_EQ(boxes[0].max_x, 22 * kCell);
}

TEST(VoxelClustering, RegionOfInterestBoundsAreInclusive) {
  ProcessingParams p;
  p.min_cluster_voxels = 1;
  Cloud inside;
  inside.points.emplace_back(6.0f, 2.0f, -0.5f);
  inside.points.emplace_back(0.1f, -2.0f, 2.0f);
  EXPECT_EQ(cluster_obstacles(inside, p, 0).size(), 2u);

  Cloud outside;
  for (auto pt : {XyzPoint(6.01f, 0, 0), XyzPoint(0.09f, 0, 0), XyzPoint(1, 2.01f, 0),
                  XyzPoint(1, -2.01f, 0), XyzPoint(1, 0, 2.01f), XyzPoint(1, 0, -0.51f),
                  XyzPoint(NAN, 0, 0)}) {
    outside.points.push_back(pt);
  }
  EXPECT_TRUE(cluster_obstacles(outside, p, 0).empty());
}

TEST(VoxelClustering, SizeBoundsDegenerateSafely) {
  Cloud cloud;
  add_voxel(cloud, 20, 0, 0);        // a single voxel
  add_blob(cloud, 3, 40, 10, 0);     // three voxels
  add_blob(cloud, 4, 60, 20, 0);     // four voxels

  ProcessingParams p;
  p.min_cluster_voxels = 0;  // the lower bound never drops below one voxel
  p.max_cluster_voxels = 10;
  auto boxes = cluster_obstacles(cloud, p, 0);
  EXPECT_EQ(boxes.size(), 3u);
  const auto single = std::find_if(boxes.begin(), boxes.end(),
                                   [](const ObstacleBox& b) { return b.voxels == 1; });
  ASSERT_NE(single, boxes.end());
  EXPECT_NEAR(single->d, kCell, 1e-6f);
  EXPECT_NEAR(single->w, kCell, 1e-6f);
  EXPECT_NEAR(single->h, kCell, 1e-6f);

  p.min_cluster_voxels = 3;  // an upper bound below the lower one means exactly the minimum
  p.max_cluster_voxels = 1;
  boxes = cluster_obstacles(cloud, p, 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].voxels, 3u);
}

TEST(VoxelClustering, ACrowdedSceneYieldsAtMost200Boxes) {
  ProcessingParams p;
  p.min_cluster_voxels = 1;
  Cloud cloud;
  for (int ix = 0; ix < 15; ++ix) {
    for (int iy = 0; iy < 15; ++iy) add_voxel(cloud, 4 + 2 * ix, -20 + 2 * iy, 0);  // 225 isolated
  }
  EXPECT_EQ(cluster_obstacles(cloud, p, 0).size(), kMaxObstacleBoxes);
}

}  // namespace
}  // namespace app
