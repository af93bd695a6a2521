#include "voxel_clustering.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace app {
namespace {

struct VoxelKey {
  int32_t ix, iy, iz;
};

inline bool operator==(const VoxelKey& a, const VoxelKey& b) {
  return a.ix == b.ix && a.iy == b.iy && a.iz == b.iz;
}

inline uint64_t voxel_hash(const VoxelKey& key) {
  return (uint64_t{static_cast<uint32_t>(key.ix)} * 73856093u) ^
         (uint64_t{static_cast<uint32_t>(key.iy)} * 19349663u) ^
         (uint64_t{static_cast<uint32_t>(key.iz)} * 83492791u);
}

// floor(v) as a voxel index; coordinates beyond the index range saturate. Clamp, truncate and
// correct without branches: a library floor call, or a branch on the sign of the fraction,
// costs more than the rest of the scan.
inline int32_t floor_index(float v) {
  v = std::min(std::max(v, -2147483648.f), 2147483520.f);
  const int32_t truncated = static_cast<int32_t>(v);
  return truncated - static_cast<int32_t>(static_cast<float>(truncated) > v);
}

// Index arithmetic wraps rather than overflows at the edges of the index range.
inline int32_t step(int32_t index, int32_t delta) {
  return static_cast<int32_t>(static_cast<uint32_t>(index) + static_cast<uint32_t>(delta));
}

// Occupied voxels with their visited marks, in one open-addressing table. Most lookups ask for
// an empty neighbour and probe until a free slot, so the table doubles past 40 % load.
class VoxelTable {
 public:
  enum : uint8_t { kFree = 0, kUnvisited = 1, kVisited = 2 };
  struct Slot {
    VoxelKey key;
    uint8_t state;
  };

  explicit VoxelTable(std::size_t expected) { allocate(expected); }

  void insert(const VoxelKey& key) {
    Slot& slot = slots_[find(key)];
    if (slot.state != kFree) return;
    slot.key = key;
    slot.state = kUnvisited;
    if (++size_ > limit_) grow();
  }

  void prefetch(const VoxelKey& key) const { __builtin_prefetch(&slots_[home(key)]); }

  // Marks the voxel visited when it is occupied and was not yet visited.
  bool visit(const VoxelKey& key) {
    Slot& slot = slots_[find(key)];
    if (slot.state != kUnvisited) return false;
    slot.state = kVisited;
    return true;
  }

  std::size_t size() const { return size_; }
  std::vector<Slot>& slots() { return slots_; }

 private:
  void allocate(std::size_t wanted) {
    std::size_t capacity = 16;
    while (capacity < wanted) capacity *= 2;
    slots_.assign(capacity, Slot{{0, 0, 0}, kFree});
    mask_ = capacity - 1;
    limit_ = capacity / 10 * 4;
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  }

  std::size_t home(const VoxelKey& key) const {
    return static_cast<std::size_t>((voxel_hash(key) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  std::size_t find(const VoxelKey& key) const {
    std::size_t i = home(key);
    while (slots_[i].state != kFree && !(slots_[i].key == key)) i = (i + 1) & mask_;
    return i;
  }

  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    allocate(old.size() * 2);
    for (const Slot& slot : old) {
      if (slot.state != kFree) slots_[find(slot.key)] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  std::size_t limit_ = 0;
  unsigned shift_ = 64;
};

inline bool inside(float v, float lo, float hi) { return lo <= v && v <= hi; }

ObstacleBox make_box(const float lo[3], const float hi[3], uint32_t count, uint64_t t) {
  ObstacleBox box;
  box.min_x = lo[0];
  box.min_y = lo[1];
  box.min_z = lo[2];
  box.max_x = hi[0];
  box.max_y = hi[1];
  box.max_z = hi[2];
  box.t_ms = t;
  box.voxels = count;
  box.cx = (box.max_x + box.min_x) * 0.5f;
  box.cy = (box.max_y + box.min_y) * 0.5f;
  box.cz = (box.max_z + box.min_z) * 0.5f;
  box.w = std::fabs(box.max_y - box.min_y);
  box.h = std::fabs(box.max_z - box.min_z);
  box.d = std::fabs(box.max_x - box.min_x);
  box.dist_m = std::sqrt(box.cx * box.cx + box.cy * box.cy + box.cz * box.cz);
  box.dist_xy_m = std::sqrt(box.cx * box.cx + box.cy * box.cy);
  box.frente_m = box.cx;
  return box;
}

}  // namespace

std::vector<ObstacleBox> cluster_obstacles(const Cloud& thinned, const ProcessingParams& p,
                                           uint64_t t) {
  std::vector<ObstacleBox> boxes;
  boxes.reserve(256);

  const float cell = p.voxel_size > 0.01f ? p.voxel_size : 0.01f;
  VoxelTable voxels(thinned.points.size());
  for (const pcl::PointXYZ& point : thinned.points) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) continue;
    if (!inside(point.x, p.roi_x_min, p.roi_x_max) || !inside(point.y, p.roi_y_min, p.roi_y_max) ||
        !inside(point.z, p.roi_z_min, p.roi_z_max)) {
      continue;
    }
    voxels.insert({floor_index(point.x / cell), floor_index(point.y / cell),
                   floor_index(point.z / cell)});
  }
  if (voxels.size() == 0) return boxes;

  const int64_t min_count = std::max<int64_t>(1, p.min_cluster_voxels);
  const int64_t max_count = std::max<int64_t>(p.min_cluster_voxels, p.max_cluster_voxels);
  constexpr float kLargest = std::numeric_limits<float>::max();

  std::vector<VoxelKey> stack;
  stack.reserve(4096);
  for (VoxelTable::Slot& seed : voxels.slots()) {
    if (seed.state != VoxelTable::kUnvisited) continue;
    seed.state = VoxelTable::kVisited;
    stack.push_back(seed.key);
    int64_t count = 0;
    float lo[3] = {kLargest, kLargest, kLargest};
    float hi[3] = {-kLargest, -kLargest, -kLargest};

    while (!stack.empty()) {
      const VoxelKey v = stack.back();
      stack.pop_back();
      ++count;
      const float index[3] = {static_cast<float>(v.ix), static_cast<float>(v.iy),
                              static_cast<float>(v.iz)};
      for (int axis = 0; axis < 3; ++axis) {
        lo[axis] = std::min(lo[axis], index[axis] * cell);
        hi[axis] = std::max(hi[axis], (index[axis] + 1.0f) * cell);
      }
      // All 26 neighbour slots are requested before any is examined, in lexicographic offset
      // order from (-1, -1, -1) to (1, 1, 1).
      VoxelKey neighbours[26];
      int n = 0;
      for (int32_t dx = -1; dx <= 1; ++dx) {
        for (int32_t dy = -1; dy <= 1; ++dy) {
          for (int32_t dz = -1; dz <= 1; ++dz) {
            if (dx == 0 && dy == 0 && dz == 0) continue;
            neighbours[n] = {step(v.ix, dx), step(v.iy, dy), step(v.iz, dz)};
            voxels.prefetch(neighbours[n++]);
          }
        }
      }
      for (const VoxelKey& neighbour : neighbours) {
        if (voxels.visit(neighbour)) stack.push_back(neighbour);
      }
    }

    if (count < min_count || count > max_count) continue;
    boxes.push_back(make_box(lo, hi, static_cast<uint32_t>(count), t));
    if (boxes.size() >= kMaxObstacleBoxes) break;
  }
  return boxes;
}

}  // namespace app
