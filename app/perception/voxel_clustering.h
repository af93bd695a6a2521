// Obstacle boxes from 26-connected clusters of occupied voxels inside the region of interest.
#pragma once

#include <cstdint>
#include <vector>

#include "core/records.h"
#include "perception/cloud_types.h"

namespace app {

constexpr std::size_t kMaxObstacleBoxes = 200;

// Boxes of the clusters whose voxel count lies within the parameters' bounds, stamped t, at
// most kMaxObstacleBoxes of them.
std::vector<ObstacleBox> cluster_obstacles(const Cloud& thinned, const ProcessingParams& params,
                                           uint64_t t);

}  // namespace app
