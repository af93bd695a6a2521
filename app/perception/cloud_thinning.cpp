#include "cloud_thinning.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <vector>

#include "perception/lanes.h"

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

// Marks a point with a non-finite coordinate, which has no voxel.
constexpr uint64_t kSkip = ~uint64_t{0};

// Open-addressing set of voxel keys, kept from cloud to cloud on the calling thread: it only
// grows (doubling past 50 % load), and clearing touches just the slots the last cloud filled.
// Keys use 63 bits, so the all-ones word marks a free slot. About a third of the inserts in a
// real scan are new voxels, in no predictable pattern, so inserting does not branch on it.
class VoxelKeySet {
 public:
  // Starts loading the key's home slot ahead of its insert.
  void prefetch(uint64_t key) const { lanes::prefetch(&slots_[slot_of(key)]); }

  // Makes room for `more` keys, so that inserting them cannot grow the table.
  void make_room(std::size_t more) {
    while (size_ + more > limit_) grow();
  }

  // Inserts the keys other than kSkip (make_room first); added[j] tells whether keys[j] was new.
  // The table's state stays in locals here: its slots and its size share a type, so through the
  // members every store to a slot would reload the rest.
  void insert(const uint64_t* keys, std::size_t m, uint8_t* added) {
    uint64_t* const slots = slots_.data();
    uint32_t* const filled = filled_.data();
    const std::size_t mask = mask_;
    std::size_t size = size_;
    for (std::size_t j = 0; j < m; ++j) {
      const uint64_t key = keys[j];
      if (key == kSkip) continue;
      std::size_t i = slot_of(key);
      while (slots[i] != key && slots[i] != kFree) i = (i + 1) & mask;
      const bool fresh = slots[i] == kFree;
      slots[i] = key;
      filled[size] = static_cast<uint32_t>(i);
      size += fresh;
      added[j] = fresh;
    }
    size_ = size;
  }

  // Empties the set and makes room for about `expected` keys without growing on the way.
  void reset(std::size_t expected) {
    for (std::size_t n = 0; n < size_; ++n) slots_[filled_[n]] = kFree;
    size_ = 0;
    if (slots_.empty() || limit_ < expected) allocate(expected);
  }

 private:
  static constexpr uint64_t kFree = ~uint64_t{0};
  static constexpr std::size_t kMinCapacity = 4096;

  void allocate(std::size_t expected) {
    std::size_t capacity = std::max(kMinCapacity, slots_.size());
    while (capacity / 2 < expected) capacity *= 2;
    slots_.assign(capacity, kFree);
    mask_ = capacity - 1;
    limit_ = capacity / 2;
    filled_.resize(limit_ + 1);
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
  }

  std::size_t slot_of(uint64_t key) const {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void grow() {
    std::vector<uint64_t> old;
    old.swap(slots_);
    allocate(old.size());  // doubles: the old table is more than half full
    size_ = 0;
    for (uint64_t key : old) {
      if (key == kFree) continue;
      std::size_t i = slot_of(key);
      while (slots_[i] != kFree) i = (i + 1) & mask_;
      slots_[i] = key;
      filled_[size_++] = static_cast<uint32_t>(i);
    }
  }

  std::vector<uint64_t> slots_;
  std::vector<uint32_t> filled_;  // slots in use, for a cheap reset
  std::size_t size_ = 0;
  std::size_t mask_ = 0;
  std::size_t limit_ = 0;
  unsigned shift_ = 64;
};

using lanes::IntLanes;
using lanes::Lanes;

// Both point records are read as four words starting with x, y, z.
static_assert(sizeof(CloudPoint) == 16 && offsetof(CloudPoint, z) == 8,
              "CloudPoint starts with x, y, z and spans four words");
static_assert(sizeof(XyzPoint) == 16 && offsetof(XyzPoint, z) == 8,
              "XyzPoint starts with x, y, z and spans four words");

template <typename Point>
inline bool finite(const Point& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Scaled coordinates below this magnitude floor exactly in 32 bits.
constexpr float kVectorLimit = 1073741824.0f;  // 2^30

// The voxel key of a point; kSkip for a point with a non-finite coordinate. The point's x, y and
// z sit in the first three lanes of a vector, so the indices of the three axes come out of one
// multiply, one conversion and one correction.
template <typename Point>
inline uint64_t voxel_key(const Point& point, float inverse) {
  const Lanes limit = {kVectorLimit, kVectorLimit, kVectorLimit, kVectorLimit};
  const Lanes q = lanes::load3(&point) * inverse;
  const IntLanes near = (q < limit) & (q > -limit);  // false for NaN
  if (lanes::likely(lanes::all_three(near))) {
    IntLanes t = lanes::truncate(q);
    t = t + (lanes::to_float(t) > q);  // truncation rounded up below zero: one less
    const auto bits = [](int32_t index) {
      return static_cast<uint64_t>(static_cast<uint32_t>(index + (int32_t{1} << 20))) & kAxisMask;
    };
    return (bits(t[0]) << 42) | (bits(t[1]) << 21) | bits(t[2]);
  }
  if (!finite(point)) return kSkip;
  return (axis_bits(floor_index(point.x * inverse)) << 42) |
         (axis_bits(floor_index(point.y * inverse)) << 21) |
         axis_bits(floor_index(point.z * inverse));
}

// Expected share of distinct voxels in a cloud; the table grows if a cloud has more.
constexpr std::size_t kVoxelsPerPointDivisor = 2;

// One point per voxel, first come, over runs of points fed in order: the thinned cloud of their
// concatenation, written into `out` (whose buffer is reused).
class ThinningPass {
 public:
  // `expected` sizes the voxel table ahead (0: as it was left by earlier passes).
  ThinningPass(float leaf, std::size_t expected, Cloud& out)
      // The comparison also turns a NaN leaf into the smallest one.
      : inverse_(1.0f / (leaf > 0.00001f ? leaf : 0.00001f)), out_(out) {
    occupied_.reset(expected / kVoxelsPerPointDivisor);
  }

  // Points with x, y and z; those with a non-finite coordinate are skipped.
  template <typename Point>
  void add(const Point* points, std::size_t n) {
    // Each point is written to the next free place and counted only when kept. The places live
    // in a buffer that never shrinks, so a frame does not pay for constructing them again.
    if (kept_.size() < count_ + n) kept_.resize(count_ + n);
    XyzPoint* kept = kept_.data();
    // Keys are computed and their slots prefetched a batch at a time, then inserted in input
    // order: the table lookups are what the scan waits on.
    constexpr std::size_t kBatch = 16;
    uint64_t keys[kBatch];
    uint8_t added[kBatch];
    for (std::size_t base = 0; base < n; base += kBatch) {
      const std::size_t m = std::min(kBatch, n - base);
      for (std::size_t j = 0; j < m; ++j) {
        keys[j] = voxel_key(points[base + j], inverse_);
        if (keys[j] != kSkip) occupied_.prefetch(keys[j]);
      }
      occupied_.make_room(m);
      occupied_.insert(keys, m, added);
      for (std::size_t j = 0; j < m; ++j) {
        if (keys[j] == kSkip) continue;
        const Point& point = points[base + j];
        kept[count_] = XyzPoint(point.x, point.y, point.z);
        count_ += added[j];
      }
    }
  }

  std::size_t count() const { return count_; }

  void finish() {
    out_.points.assign(kept_.data(), kept_.data() + count_);
    out_.width = static_cast<uint32_t>(count_);
    out_.height = 1;
    out_.is_dense = false;
  }

 private:
  // Kept from pass to pass on the calling thread.
  static thread_local VoxelKeySet occupied_thread_;
  static thread_local std::vector<XyzPoint> kept_thread_;
  VoxelKeySet& occupied_ = occupied_thread_;  // looked up once, not at every use
  std::vector<XyzPoint>& kept_ = kept_thread_;
  float inverse_;
  Cloud& out_;
  std::size_t count_ = 0;
};

thread_local VoxelKeySet ThinningPass::occupied_thread_;
thread_local std::vector<XyzPoint> ThinningPass::kept_thread_;

}  // namespace

uint64_t thin_window(PointWindow& window, float leaf, Cloud& out, std::vector<TiltSpan>* spans) {
  ThinningPass pass(leaf, 0, out);
  if (spans == nullptr) {
    const uint64_t stamp = window_read(
        window, [&pass](const CloudPoint* points, std::size_t n) { pass.add(points, n); });
    pass.finish();
    return stamp;
  }
  spans->clear();
  const uint64_t stamp = window_read(
      window, [&pass, spans](const CloudPoint* points, std::size_t n, const Tilt& tilt) {
        pass.add(points, n);
        spans->push_back(TiltSpan{pass.count(), tilt});
      });
  pass.finish();
  return stamp;
}

}  // namespace app
