// Frame processing on the worker thread: clean and thin a frame's points, derive the six
// directional obstacle distances and the obstacle boxes, and store both in the shared state.
#pragma once

#include <cstdint>

#include "app/core/shared_state.h"
#include "app/perception/cloud_types.h"

namespace app {

// Processes the newest frame, handed off at steady time t; results go to `distances` and
// `obstacle_boxes`.
void process_frame(const PointFrame& frame, uint64_t t);

// Nearest positive coordinate along each axis direction over the whole cloud, each kept only
// when it lies within the matching face of the region of interest (0 otherwise).
ObstacleDistances directional_distances(const Cloud& cloud, const ProcessingParams& params,
                                        uint64_t t);

}  // namespace app
