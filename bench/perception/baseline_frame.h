// The frame processing as first built, for the benchmarks to measure the current one against.
#pragma once

#include <cstdint>
#include <vector>

#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "core/shared_state.h"
#include "perception/cloud_types.h"

namespace baseline {

struct FrameResult {
  app::ObstacleDistances distances;
  std::vector<app::ObstacleBox> boxes;
};

// The first implementation worked on the point-cloud library's own cloud type.
using PclCloud = pcl::PointCloud<pcl::PointXYZ>;

// The frame's finite points as a fresh cloud, in order.
PclCloud::Ptr frame_to_cloud(const app::PointFrame& frame);

// The same points as the pipeline's working cloud, for the pipeline's own distance scan.
app::Cloud to_work_cloud(const PclCloud& cloud);

// Thinning, distances and clustering of one frame, returned instead of stored.
FrameResult process_frame(const app::PointFrame& frame, const app::ProcessingParams& params,
                          uint64_t t);

}  // namespace baseline
