// A plain reading of frame processing and of the point window, written for clarity with the
// standard hash containers, as the oracle the optimised pipeline is checked against.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/records.h"

namespace app::reference {

struct Point3 {
  float x, y, z;
};

inline bool finite(float x, float y, float z) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
}

inline int64_t floor_to_int(float v) {
  const double f = std::floor(static_cast<double>(v));
  return static_cast<int64_t>(std::max(-4.0e18, std::min(4.0e18, f)));
}

// First finite point of each voxel, in input order.
inline std::vector<Point3> thin(const std::vector<CloudPoint>& points, float leaf) {
  const float inverse = 1.0f / std::max(leaf, 0.00001f);
  auto bits = [](int64_t i) { return static_cast<uint64_t>(i + (int64_t{1} << 20)) & ((1u << 21) - 1); };
  std::unordered_set<uint64_t> seen;
  std::vector<Point3> kept;
  for (const CloudPoint& p : points) {
    if (!finite(p.x, p.y, p.z)) continue;
    const uint64_t key = (bits(floor_to_int(p.x * inverse)) << 42) |
                         (bits(floor_to_int(p.y * inverse)) << 21) |
                         bits(floor_to_int(p.z * inverse));
    if (seen.insert(key).second) kept.push_back({p.x, p.y, p.z});
  }
  return kept;
}

// The six distances counted only inside the robot's corridors: for each axis direction, points
// beyond the robot's face on that side whose other two coordinates lie within its box, that are
// not ground (within the margin above a seen plane, or below it), within the corridors' limits.
inline ObstacleDistances corridor(const std::vector<Point3>& thinned, const ProcessingParams& p,
                                  uint64_t t, const GroundEstimate& ground = {}) {
  const RobotBox& r = p.robot;
  const float lo[3] = {r.min_x, r.min_y, r.min_z};
  const float hi[3] = {r.max_x, r.max_y, r.max_z};
  float ahead[3] = {0.f, 0.f, 0.f}, behind[3] = {0.f, 0.f, 0.f};  // 0: nothing yet
  for (const Point3& q : thinned) {
    const float c[3] = {q.x, q.y, q.z};
    if (ground.seen &&
        ground.normal[0] * q.x + ground.normal[1] * q.y + ground.normal[2] * q.z + ground.height_m <
            p.ground.margin_m) {
      continue;
    }
    for (int a = 0; a < 3; ++a) {
      const int b = (a + 1) % 3, d = (a + 2) % 3;
      if (!(lo[b] <= c[b] && c[b] <= hi[b] && lo[d] <= c[d] && c[d] <= hi[d])) continue;
      if (c[a] > hi[a] && c[a] > 0.f && (ahead[a] == 0.f || c[a] < ahead[a])) ahead[a] = c[a];
      if (c[a] < lo[a] && c[a] < 0.f && (behind[a] == 0.f || -c[a] < behind[a])) behind[a] = -c[a];
    }
  }
  // Beyond the limit on that side, nothing within range; below, the ground is the limit.
  const CorridorLimits& l = p.corridor;
  const bool to_ground = ground.seen && l.below_to_ground;
  const float faces[6] = {l.ahead, l.behind,
                          l.left,  l.right,
                          l.above, to_ground ? std::numeric_limits<float>::infinity() : l.below};
  float found[6] = {ahead[0], behind[0], ahead[1], behind[1], ahead[2], behind[2]};
  for (int i = 0; i < 6; ++i) found[i] = found[i] > faces[i] ? 0.f : found[i];
  return ObstacleDistances{found[0], found[1], found[2], found[3], found[4], found[5], t};
}

struct Voxel {
  int64_t ix, iy, iz;
  bool operator==(const Voxel& o) const { return ix == o.ix && iy == o.iy && iz == o.iz; }
};
struct VoxelHash {
  std::size_t operator()(const Voxel& v) const {
    return static_cast<std::size_t>(v.ix * 73856093) ^ static_cast<std::size_t>(v.iy * 19349663) ^
           static_cast<std::size_t>(v.iz * 83492791);
  }
};

// Every acceptable cluster's box, without the cap on their number.
inline std::vector<ObstacleBox> clusters(const std::vector<Point3>& thinned,
                                         const ProcessingParams& p, uint64_t t) {
  const float cell = p.voxel_size > 0.01f ? p.voxel_size : 0.01f;
  std::unordered_map<Voxel, bool, VoxelHash> visited;
  std::vector<Voxel> order;
  for (const Point3& q : thinned) {
    if (!finite(q.x, q.y, q.z)) continue;
    if (!(p.roi_x_min <= q.x && q.x <= p.roi_x_max && p.roi_y_min <= q.y && q.y <= p.roi_y_max &&
          p.roi_z_min <= q.z && q.z <= p.roi_z_max))
      continue;
    const Voxel v{floor_to_int(q.x / cell), floor_to_int(q.y / cell), floor_to_int(q.z / cell)};
    if (visited.emplace(v, false).second) order.push_back(v);
  }
  const int64_t lo_count = std::max<int64_t>(1, p.min_cluster_voxels);
  const int64_t hi_count = std::max<int64_t>(p.min_cluster_voxels, p.max_cluster_voxels);
  std::vector<ObstacleBox> boxes;
  for (const Voxel& seed : order) {
    if (visited[seed]) continue;
    visited[seed] = true;
    std::vector<Voxel> stack{seed};
    int64_t count = 0;
    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {-lo[0], -lo[1], -lo[2]};
    while (!stack.empty()) {
      const Voxel v = stack.back();
      stack.pop_back();
      ++count;
      const int64_t idx[3] = {v.ix, v.iy, v.iz};
      for (int a = 0; a < 3; ++a) {
        const float f = static_cast<float>(static_cast<int32_t>(idx[a]));
        lo[a] = std::min(lo[a], f * cell);
        hi[a] = std::max(hi[a], (f + 1.0f) * cell);
      }
      for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
          for (int dz = -1; dz <= 1; ++dz) {
            const Voxel n{v.ix + dx, v.iy + dy, v.iz + dz};
            auto it = visited.find(n);
            if (it == visited.end() || it->second) continue;
            it->second = true;
            stack.push_back(n);
          }
    }
    if (count < lo_count || count > hi_count) continue;
    ObstacleBox b;
    b.min_x = lo[0], b.min_y = lo[1], b.min_z = lo[2];
    b.max_x = hi[0], b.max_y = hi[1], b.max_z = hi[2];
    b.t_ms = t;
    b.voxels = static_cast<uint32_t>(count);
    b.cx = (b.max_x + b.min_x) * 0.5f;
    b.cy = (b.max_y + b.min_y) * 0.5f;
    b.cz = (b.max_z + b.min_z) * 0.5f;
    b.w = std::fabs(b.max_y - b.min_y);
    b.h = std::fabs(b.max_z - b.min_z);
    b.d = std::fabs(b.max_x - b.min_x);
    b.dist_m = std::sqrt(b.cx * b.cx + b.cy * b.cy + b.cz * b.cz);
    b.dist_xy_m = std::sqrt(b.cx * b.cx + b.cy * b.cy);
    b.frente_m = b.cx;
    boxes.push_back(b);
  }
  return boxes;
}

}  // namespace app::reference
