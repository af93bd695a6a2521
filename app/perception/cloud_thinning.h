// Voxel-grid thinning that keeps the first point of each occupied voxel.
#pragma once

#include "core/shared_state.h"
#include "perception/cloud_types.h"

namespace app {

// One point per occupied voxel of edge `leaf` metres: the first finite point met in input
// order, unchanged (no averaging). A null or empty input gives an empty cloud.
CloudPtr thin_cloud(const CloudConstPtr& cloud, float leaf);

// The same thinning straight from a frame's points into `out` (whose buffer is reused): what
// frame processing does, without first copying the frame into a cloud.
void thin_frame(const PointFrame& frame, float leaf, Cloud& out);

// The same thinning of the window's snapshot content, read in place under the window's lock
// rather than copied out first. Returns the content's stamp.
uint64_t thin_window(PointWindow& window, float leaf, Cloud& out);

}  // namespace app
