// The frame processing as first built, for the benchmarks to measure the current one against.
#pragma once

#include <cstdint>
#include <vector>

#include "app/core/shared_state.h"
#include "app/perception/cloud_types.h"

namespace baseline {

struct FrameResult {
  app::ObstacleDistances distances;
  std::vector<app::ObstacleBox> boxes;
};

// The frame's finite points as a fresh cloud, in order.
app::CloudPtr frame_to_cloud(const app::PointFrame& frame);

// Thinning, distances and clustering of one frame, returned instead of stored.
FrameResult process_frame(const app::PointFrame& frame, const app::ProcessingParams& params,
                          uint64_t t);

}  // namespace baseline
