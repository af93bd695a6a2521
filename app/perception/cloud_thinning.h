// Voxel-grid thinning that keeps the first point of each occupied voxel.
#pragma once

#include <cstddef>
#include <vector>

#include "core/shared_state.h"
#include "perception/cloud_types.h"

namespace app {

// One point per occupied voxel of edge `leaf` metres: the first finite point met in input
// order, unchanged (no averaging). A null or empty input gives an empty cloud.
CloudPtr thin_cloud(const CloudConstPtr& cloud, float leaf);

// The same thinning straight from a frame's points into `out` (whose buffer is reused): what
// frame processing does, without first copying the frame into a cloud.
void thin_frame(const PointFrame& frame, float leaf, Cloud& out);

// Where the points of one window entry end in the thinned cloud, and the entry's tilt: the
// thinned cloud holds the entries' new voxels in snapshot order (newest entry first).
struct TiltSpan {
  std::size_t end = 0;
  Tilt tilt;
};

// The same thinning of the window's snapshot content, read in place under the window's lock
// rather than copied out first, with each entry's span when `spans` is given (its buffer is
// reused). Returns the content's stamp.
uint64_t thin_window(PointWindow& window, float leaf, Cloud& out,
                     std::vector<TiltSpan>* spans = nullptr);

}  // namespace app
