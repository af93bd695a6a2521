// The frame processing as first built, kept as the yardstick for the current one: a fresh
// cloud conversion with NaN removal, thinning through a growing hash table, and clustering
// through a hash table of voxels, every buffer allocated per frame.
#include "baseline_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <pcl/filters/filter.h>

#include "perception/frame_processing.h"
#include "perception/voxel_clustering.h"

namespace baseline {
namespace {

using app::Cloud;
using app::ObstacleBox;
using app::ProcessingParams;

constexpr int64_t kAxisOffset = int64_t{1} << 20;
constexpr uint64_t kAxisMask = (uint64_t{1} << 21) - 1;

// floor(v) as an integer; values beyond any real grid saturate instead of overflowing. Clamp,
// truncate and correct without branches: a library floor call, or a branch on the sign of the
// fraction, costs more than the rest of the scan.
inline int64_t floor_index64(float v) {
  v = std::min(std::max(v, -4.0e18f), 4.0e18f);
  const int64_t truncated = static_cast<int64_t>(v);
  return truncated - static_cast<int64_t>(static_cast<float>(truncated) > v);
}

// 21 bits per axis, each index shifted by 2^20 and wrapped modulo 2^21.
inline uint64_t axis_bits(int64_t index) {
  return static_cast<uint64_t>(index + kAxisOffset) & kAxisMask;
}

// Open-addressing set of voxel keys. Keys use 63 bits, so the all-ones word marks a free slot.
// It starts at half the expected count and doubles past 60 % load: a thinned cloud usually has
// far fewer voxels than points, and a smaller table stays in cache.
class VoxelKeySet {
 public:
  explicit VoxelKeySet(std::size_t expected) { allocate(expected / 2); }

  // Starts loading the key's home slot ahead of its insert.
  void prefetch(uint64_t key) const { __builtin_prefetch(&slots_[slot_of(key)]); }

  // True when the key was not yet present.
  bool insert(uint64_t key) {
    std::size_t i = slot_of(key);
    while (true) {
      uint64_t& slot = slots_[i];
      if (slot == key) return false;
      if (slot == kFree) {
        slot = key;
        if (++size_ > limit_) grow();
        return true;
      }
      i = (i + 1) & mask_;
    }
  }

 private:
  static constexpr uint64_t kFree = ~uint64_t{0};

  void allocate(std::size_t wanted) {
    std::size_t capacity = 16;
    while (capacity < wanted) capacity *= 2;
    slots_.assign(capacity, kFree);
    mask_ = capacity - 1;
    limit_ = capacity / 10 * 6;
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  }

  std::size_t slot_of(uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void grow() {
    std::vector<uint64_t> old;
    old.swap(slots_);
    allocate(old.size() * 2);
    for (uint64_t key : old) {
      if (key == kFree) continue;
      std::size_t i = slot_of(key);
      while (slots_[i] != kFree) i = (i + 1) & mask_;
      slots_[i] = key;
    }
  }

  std::vector<uint64_t> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  std::size_t limit_ = 0;
  unsigned shift_ = 64;
};

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

std::shared_ptr<Cloud> thin_points(const PclCloud::ConstPtr& cloud, float leaf) {
  auto thinned = std::make_shared<Cloud>();
  if (cloud && !cloud->points.empty()) {
    // The comparison also turns a NaN leaf into the smallest one.
    const float inverse = 1.0f / (leaf > 0.00001f ? leaf : 0.00001f);
    const auto& points = cloud->points;
    thinned->points.reserve(points.size());
    VoxelKeySet occupied(points.size());
    // Keys are computed and their slots prefetched a batch at a time, then inserted in input
    // order: the table lookups are what the scan waits on.
    constexpr std::size_t kBatch = 16;
    constexpr uint64_t kSkip = ~uint64_t{0};
    uint64_t keys[kBatch];
    for (std::size_t base = 0; base < points.size(); base += kBatch) {
      const std::size_t n = std::min(kBatch, points.size() - base);
      for (std::size_t j = 0; j < n; ++j) {
        const pcl::PointXYZ& point = points[base + j];
        if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
          keys[j] = kSkip;
          continue;
        }
        keys[j] = (axis_bits(floor_index64(point.x * inverse)) << 42) |
                  (axis_bits(floor_index64(point.y * inverse)) << 21) |
                  axis_bits(floor_index64(point.z * inverse));
        occupied.prefetch(keys[j]);
      }
      for (std::size_t j = 0; j < n; ++j) {
        if (keys[j] != kSkip && occupied.insert(keys[j])) {
          const pcl::PointXYZ& point = points[base + j];
          thinned->points.emplace_back(point.x, point.y, point.z);
        }
      }
    }
  }
  thinned->width = static_cast<uint32_t>(thinned->points.size());
  thinned->height = 1;
  thinned->is_dense = false;
  return thinned;
}
std::vector<ObstacleBox> cluster_voxels(const Cloud& thinned, const ProcessingParams& p,
                                           uint64_t t) {
  std::vector<ObstacleBox> boxes;
  boxes.reserve(256);

  const float cell = p.voxel_size > 0.01f ? p.voxel_size : 0.01f;
  VoxelTable voxels(thinned.points.size());
  for (const app::XyzPoint& point : thinned.points) {
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
    if (boxes.size() >= app::kMaxObstacleBoxes) break;
  }
  return boxes;
}

}  // namespace

PclCloud::Ptr frame_to_cloud(const app::PointFrame& frame) {
  auto cloud = std::make_shared<PclCloud>();
  cloud->points.reserve(frame.points.size());
  for (const app::CloudPoint& point : frame.points) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) continue;
    cloud->points.emplace_back(point.x, point.y, point.z);
  }
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = false;
  if (cloud->points.empty()) return cloud;

  pcl::Indices kept;
  pcl::removeNaNFromPointCloud(*cloud, *cloud, kept);
  cloud->width = static_cast<uint32_t>(cloud->points.size());
  cloud->height = 1;
  cloud->is_dense = false;
  return cloud;
}

app::Cloud to_work_cloud(const PclCloud& cloud) {
  Cloud work;
  work.points.reserve(cloud.points.size());
  for (const pcl::PointXYZ& point : cloud.points) work.points.emplace_back(point.x, point.y, point.z);
  work.width = static_cast<uint32_t>(work.points.size());
  return work;
}

FrameResult process_frame(const app::PointFrame& frame, const ProcessingParams& params,
                          uint64_t t) {
  FrameResult result;
  result.distances.frame_ms = t;
  const PclCloud::Ptr cloud = frame_to_cloud(frame);
  if (cloud->points.empty()) return result;

  const std::shared_ptr<Cloud> thinned = thin_points(cloud, params.voxel_size);
  result.distances = app::directional_distances(*thinned, params, t);
  if (static_cast<int64_t>(thinned->points.size()) < params.min_cluster_voxels) return result;
  result.boxes = cluster_voxels(*thinned, params, t);
  return result;
}

}  // namespace baseline
