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

// floor(v) as an integer; values beyond any real grid saturate instead of overflowing. Clamp,
// truncate and correct without branches: a library floor call, or a branch on the sign of the
// fraction, costs more than the rest of the scan.
inline int64_t floor_index(float v) {
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

}  // namespace

CloudPtr thin_cloud(const CloudConstPtr& cloud, float leaf) {
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
        keys[j] = (axis_bits(floor_index(point.x * inverse)) << 42) |
                  (axis_bits(floor_index(point.y * inverse)) << 21) |
                  axis_bits(floor_index(point.z * inverse));
        occupied.prefetch(keys[j]);
      }
      for (std::size_t j = 0; j < n; ++j) {
        if (keys[j] != kSkip && occupied.insert(keys[j])) thinned->points.push_back(points[base + j]);
      }
    }
  }
  thinned->width = static_cast<uint32_t>(thinned->points.size());
  thinned->height = 1;
  thinned->is_dense = false;
  return thinned;
}

}  // namespace app
