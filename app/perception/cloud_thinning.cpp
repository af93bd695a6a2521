#include "cloud_thinning.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

namespace app {
namespace {

constexpr int64_t kAxisOffset = int64_t{1} << 20;
constexpr uint64_t kAxisMask = (uint64_t{1} << 21) - 1;

// floor(v) as an integer; values beyond any real grid saturate instead of overflowing.
inline int64_t floor_index(float v) {
  const float f = std::floor(v);
  if (f >= 4.0e18f) return INT64_C(4000000000000000000);
  if (f <= -4.0e18f) return INT64_C(-4000000000000000000);
  return static_cast<int64_t>(f);
}

// 21 bits per axis, each index shifted by 2^20 and wrapped modulo 2^21.
inline uint64_t axis_bits(int64_t index) {
  return static_cast<uint64_t>(index + kAxisOffset) & kAxisMask;
}

// Open-addressing set of voxel keys. Keys use 63 bits, so the all-ones word marks a free slot.
class VoxelKeySet {
 public:
  explicit VoxelKeySet(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected) capacity *= 2;
    slots_.assign(capacity, kFree);
    mask_ = capacity - 1;
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  }

  // True when the key was not yet present.
  bool insert(uint64_t key) {
    std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    while (true) {
      uint64_t& slot = slots_[i];
      if (slot == key) return false;
      if (slot == kFree) {
        slot = key;
        return true;
      }
      i = (i + 1) & mask_;
    }
  }

 private:
  static constexpr uint64_t kFree = ~uint64_t{0};
  std::vector<uint64_t> slots_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
};

}  // namespace

CloudPtr thin_cloud(const CloudConstPtr& cloud, float leaf) {
  auto thinned = std::make_shared<Cloud>();
  if (cloud && !cloud->points.empty()) {
    const float inverse = 1.0f / std::max(leaf, 0.00001f);
    thinned->points.reserve(cloud->points.size());
    VoxelKeySet occupied(cloud->points.size());
    for (const pcl::PointXYZ& point : cloud->points) {
      if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) continue;
      const uint64_t key = (axis_bits(floor_index(point.x * inverse)) << 42) |
                           (axis_bits(floor_index(point.y * inverse)) << 21) |
                           axis_bits(floor_index(point.z * inverse));
      if (occupied.insert(key)) thinned->points.push_back(point);
    }
  }
  thinned->width = static_cast<uint32_t>(thinned->points.size());
  thinned->height = 1;
  thinned->is_dense = false;
  return thinned;
}

}  // namespace app
