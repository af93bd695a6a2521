#include "voxel_clustering.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "perception/lanes.h"

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

// Occupied voxels with their visited marks, in one open-addressing table: the path for regions
// of interest too large for a grid. Most lookups ask for an empty neighbour and probe until a
// free slot, so the table doubles past 40 % load.
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

  void prefetch(const VoxelKey& key) const { lanes::prefetch(&slots_[home(key)]); }

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

constexpr float kInfinity = std::numeric_limits<float>::infinity();

using lanes::Lanes;

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


struct ClusterBounds {
  int64_t min_count = 1;
  int64_t max_count = 1;
};

ClusterBounds cluster_bounds(const ProcessingParams& p) {
  return {std::max<int64_t>(1, p.min_cluster_voxels),
          std::max<int64_t>(p.min_cluster_voxels, p.max_cluster_voxels)};
}

bool in_region(const XyzPoint& point, const ProcessingParams& p) {
  return std::isfinite(point.x) && std::isfinite(point.y) && std::isfinite(point.z) &&
         inside(point.x, p.roi_x_min, p.roi_x_max) && inside(point.y, p.roi_y_min, p.roi_y_max) &&
         inside(point.z, p.roi_z_min, p.roi_z_max);
}

// Running extent of one cluster in voxel indices. The box corners are derived from the extreme
// indices only: index-to-metres is monotonic, so this gives the same floats as taking the
// extremes of every voxel's corners.
struct Extent {
  int32_t lo[3] = {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
                   std::numeric_limits<int32_t>::max()};
  int32_t hi[3] = {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min(),
                   std::numeric_limits<int32_t>::min()};
  int64_t count = 0;

  void add(int32_t ix, int32_t iy, int32_t iz) {
    ++count;
    const int32_t index[3] = {ix, iy, iz};
    for (int axis = 0; axis < 3; ++axis) {
      lo[axis] = std::min(lo[axis], index[axis]);
      hi[axis] = std::max(hi[axis], index[axis]);
    }
  }

  ObstacleBox box(float cell, uint64_t t) const {
    float low[3], high[3];
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = static_cast<float>(lo[axis]) * cell;
      high[axis] = (static_cast<float>(hi[axis]) + 1.0f) * cell;
    }
    return make_box(low, high, static_cast<uint32_t>(count), t);
  }
};

std::vector<ObstacleBox> cluster_with_table(const Cloud& thinned, const ProcessingParams& p,
                                            float cell, uint64_t t) {
  std::vector<ObstacleBox> boxes;
  boxes.reserve(256);
  VoxelTable voxels(thinned.points.size());
  for (const XyzPoint& point : thinned.points) {
    if (!in_region(point, p)) continue;
    voxels.insert({floor_index(point.x / cell), floor_index(point.y / cell),
                   floor_index(point.z / cell)});
  }
  if (voxels.size() == 0) return boxes;

  const ClusterBounds bounds = cluster_bounds(p);
  std::vector<VoxelKey> stack;
  stack.reserve(4096);
  for (VoxelTable::Slot& seed : voxels.slots()) {
    if (seed.state != VoxelTable::kUnvisited) continue;
    seed.state = VoxelTable::kVisited;
    stack.push_back(seed.key);
    Extent extent;
    while (!stack.empty()) {
      const VoxelKey v = stack.back();
      stack.pop_back();
      extent.add(v.ix, v.iy, v.iz);
      // All 26 neighbour slots are requested before any is examined.
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
    if (extent.count < bounds.min_count || extent.count > bounds.max_count) continue;
    boxes.push_back(extent.box(cell, t));
    if (boxes.size() >= kMaxObstacleBoxes) break;
  }
  return boxes;
}

// The region of interest as a dense grid of voxels with a one-voxel border all round, so every
// neighbour of an inside voxel has a cell and the fill needs no bounds checks.
struct GridShape {
  int32_t origin[3] = {0, 0, 0};  // voxel index of cell 0 on each axis (one below the region)
  int64_t size[3] = {0, 0, 0};
  int64_t cells = 0;

  bool operator==(const GridShape& other) const {
    return std::equal(origin, origin + 3, other.origin) && std::equal(size, size + 3, other.size);
  }
};

// Beyond this many cells (8 MiB of bits) the region is clustered through the hash table.
constexpr int64_t kMaxGridCells = int64_t{1} << 26;

// The grid for the parameters, or false when the region is not finite, is empty, or needs more
// than kMaxGridCells cells.
bool grid_shape(const ProcessingParams& p, float cell, GridShape& shape) {
  const float lows[3] = {p.roi_x_min, p.roi_y_min, p.roi_z_min};
  const float highs[3] = {p.roi_x_max, p.roi_y_max, p.roi_z_max};
  int64_t cells = 1;
  for (int axis = 0; axis < 3; ++axis) {
    if (!std::isfinite(lows[axis]) || !std::isfinite(highs[axis]) || !(lows[axis] <= highs[axis]))
      return false;
    // A voxel index of a point inside the region lies between these two (division and floor
    // are both monotonic).
    const int64_t first = floor_index(lows[axis] / cell);
    const int64_t last = floor_index(highs[axis] / cell);
    const int64_t size = last - first + 3;
    if (size > kMaxGridCells) return false;
    cells *= size;
    if (cells > kMaxGridCells) return false;
    // The border cells' indices must still be representable.
    if (first - 1 < std::numeric_limits<int32_t>::min() ||
        last + 1 > std::numeric_limits<int32_t>::max())
      return false;
    shape.origin[axis] = static_cast<int32_t>(first - 1);
    shape.size[axis] = size;
  }
  shape.cells = cells;
  return true;
}

struct GridVoxel {
  uint32_t cell;
  int32_t ix, iy, iz;
};

// The grid and work lists, kept from frame to frame on the calling thread. Between calls every
// bit is clear.
struct GridWorkspace {
  GridShape shape;
  std::vector<uint64_t> occupied;  // one bit per cell: occupied and not yet visited
  std::vector<uint32_t> seeds;     // occupied cells in the order they were first met
  std::vector<GridVoxel> stack;

  void reshape(const GridShape& wanted) {
    if (wanted == shape && !occupied.empty()) return;
    shape = wanted;
    // One more cell past the grid takes the points outside the region.
    occupied.assign(static_cast<std::size_t>((wanted.cells + 1 + 63) / 64), 0);
  }

  bool test(uint32_t cell) const { return (occupied[cell >> 6] >> (cell & 63)) & 1u; }
  void set(uint32_t cell) { occupied[cell >> 6] |= uint64_t{1} << (cell & 63); }
  void reset(uint32_t cell) { occupied[cell >> 6] &= ~(uint64_t{1} << (cell & 63)); }
  // The bits of `first` and the two cells after it, in the low three bits.
  unsigned row(uint32_t first) const {
    const uint32_t word = first >> 6, shift = first & 63;
    uint64_t bits = occupied[word] >> shift;
    if (shift > 61) bits |= occupied[word + 1] << (64 - shift);
    return static_cast<unsigned>(bits & 7u);
  }
};

struct RowStep {
  int64_t cell;  // from a voxel to the first cell of the row (dz = -1)
  int32_t dx, dy;
};

std::vector<ObstacleBox> cluster_with_grid(const Cloud& thinned, const ProcessingParams& p,
                                           float cell, const GridShape& shape, uint64_t t) {
  thread_local GridWorkspace workspace;
  GridWorkspace& grid = workspace;
  grid.reshape(shape);
  const int64_t stride_y = shape.size[2];
  const int64_t stride_x = shape.size[1] * stride_y;
  auto cell_of = [&](int32_t ix, int32_t iy, int32_t iz) {
    return static_cast<uint32_t>((int64_t{ix} - shape.origin[0]) * stride_x +
                                 (int64_t{iy} - shape.origin[1]) * stride_y +
                                 (int64_t{iz} - shape.origin[2]));
  };

  // Occupancy: a point outside the region is sent to a spare cell past the grid, and a seed is
  // written every time but counted only for a new inside cell, so only the region test itself
  // branches on the data.
  const Lanes low = {p.roi_x_min, p.roi_y_min, p.roi_z_min, -kInfinity};
  const Lanes high = {p.roi_x_max, p.roi_y_max, p.roi_z_max, kInfinity};
  const Lanes size = {cell, cell, cell, 1.f};
  const uint32_t spare = static_cast<uint32_t>(shape.cells);
  if (grid.seeds.size() < thinned.points.size()) grid.seeds.resize(thinned.points.size());
  std::size_t seeds = 0;
  for (const XyzPoint& point : thinned.points) {
    const Lanes v = lanes::load4(&point);  // x, y, z and the point's fourth word
    const bool inside = lanes::all_three((low <= v) & (v <= high));
    // Division per lane is the same IEEE division as one coordinate at a time.
    const Lanes q = (inside ? v : low) / size;
    const uint32_t c =
        inside ? cell_of(floor_index(q[0]), floor_index(q[1]), floor_index(q[2])) : spare;
    const bool fresh = !grid.test(c);
    grid.set(c);
    grid.seeds[seeds] = c;
    seeds += inside & fresh;
  }
  grid.reset(spare);

  // The 3 x 3 rows of neighbours along z, each three consecutive cells (z is the fastest axis),
  // so one word read covers a row. Rows and cells within a row go in lexicographic order.
  RowStep rows[9];
  int n = 0;
  for (int32_t dx = -1; dx <= 1; ++dx) {
    for (int32_t dy = -1; dy <= 1; ++dy) rows[n++] = {dx * stride_x + dy * stride_y - 1, dx, dy};
  }

  std::vector<ObstacleBox> boxes;
  boxes.reserve(256);
  const ClusterBounds bounds = cluster_bounds(p);
  for (std::size_t k = 0; k < seeds; ++k) {
    const uint32_t seed = grid.seeds[k];
    if (!grid.test(seed)) continue;
    grid.reset(seed);
    // The seed's indices follow back from its cell number.
    const int64_t rest = seed % stride_x;
    grid.stack.push_back({seed, static_cast<int32_t>(seed / stride_x + shape.origin[0]),
                          static_cast<int32_t>(rest / stride_y + shape.origin[1]),
                          static_cast<int32_t>(rest % stride_y + shape.origin[2])});
    Extent extent;
    while (!grid.stack.empty()) {
      const GridVoxel v = grid.stack.back();
      grid.stack.pop_back();
      extent.add(v.ix, v.iy, v.iz);
      for (const RowStep& row : rows) {
        const uint32_t first = static_cast<uint32_t>(v.cell + row.cell);
        unsigned bits = grid.row(first);
        while (bits != 0) {
          const int dz = lanes::lowest_bit(bits);
          bits &= bits - 1;
          const uint32_t next = first + static_cast<uint32_t>(dz);
          grid.reset(next);
          grid.stack.push_back({next, v.ix + row.dx, v.iy + row.dy, v.iz + dz - 1});
        }
      }
    }
    if (extent.count < bounds.min_count || extent.count > bounds.max_count) continue;
    boxes.push_back(extent.box(cell, t));
    if (boxes.size() >= kMaxObstacleBoxes) break;
  }
  // Cells left unvisited by an early stop are cleared for the next frame.
  for (std::size_t k = 0; k < seeds; ++k) grid.reset(grid.seeds[k]);
  return boxes;
}

}  // namespace

std::vector<ObstacleBox> cluster_obstacles(const Cloud& thinned, const ProcessingParams& p,
                                           uint64_t t) {
  const float cell = p.voxel_size > 0.01f ? p.voxel_size : 0.01f;
  GridShape shape;
  if (grid_shape(p, cell, shape)) return cluster_with_grid(thinned, p, cell, shape, t);
  return cluster_with_table(thinned, p, cell, t);
}

}  // namespace app
