// Voxel-grid thinning that keeps the first point of each occupied voxel.
#pragma once

#include <cstddef>
#include <vector>

#include "perception/point_window.h"
#include "perception/cloud_types.h"

namespace app {

// Where the points of one window entry end in the thinned cloud, and the entry's tilt: the
// thinned cloud holds the entries' new voxels in snapshot order (newest entry first).
struct TiltSpan {
  std::size_t end = 0;
  Tilt tilt;
};

// One point per occupied voxel of edge `leaf` metres of the window's content (window_read's
// order): the first finite point met, unchanged (no averaging), written to `out` (whose buffer
// is reused). The window is read in place rather than copied out first; each
// entry's span goes to `spans` when it is given (its buffer is reused too). Returns the
// content's stamp.
uint64_t thin_window(PointWindow& window, float leaf, Cloud& out,
                     std::vector<TiltSpan>* spans = nullptr);

}  // namespace app
